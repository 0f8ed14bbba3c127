#pragma once

#include <string>
#include <string_view>

// Undoes what Samba's own client does to a message before it leaves, so that text sent with
// `smbclient -M` reads as it was written. smbclient converts its input (UTF-8, every LF sent as
// CR LF, at most 1,598 bytes read) to the DOS code page in pieces of 127 input bytes, one
// SMBsendtxt block each; a piece it cannot convert (a character the code page lacks, or one cut
// at the piece's edge) goes out as raw UTF-8. The receiving smbd joins the blocks, decodes them
// all as CP850, its default, and drops the CR of each CR LF: every raw piece arrives as
// two or three wrong characters per letter. An empty message arrives as one zero byte.
namespace TextRepair {

// The message file's bytes as smbd wrote them; the text as the sender wrote it where that is
// certain (see ReparaTexto.cpp), else the same bytes; zero bytes are always dropped. A pure
// function of its bytes.
std::string repair(std::string_view bytes);

} // namespace TextRepair
