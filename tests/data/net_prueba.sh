#!/bin/sh
# A stand-in for `net send`: records its arguments (count, then each argument, all
# NUL-terminated) in net.registro in the current directory and answers on standard
# output the way the real command does. The target's name picks the behaviour:
#   *falla*  not delivered (an error line, exit 2)
#   *lento*  delivered after half a second
#   *vacio*  no output at all
#   *minus*  delivered, answer in lower case after leading blanks
#   *corto*  a first line shorter than the success words
#   *marcas* not delivered, an answer that looks like markup, with control characters
#   *tuberia* leaves a named pipe in place of mensaje.txt
#   anything else: delivered at once
{ printf '%s\0' "$#"; printf '%s\0' "$@"; } >> net.registro
case "$2" in
*falla*) echo "Error al enviar un mensaje a $2. No se encontró el nombre."; exit 2 ;;
*lento*) sleep 0.5; echo "Mensaje enviado a $2." ;;
*vacio*) exit 0 ;;
*minus*) echo "   mensaje enviado a $2." ;;
*corto*) echo "Enviado" ;;
*tuberia*) rm -f mensaje.txt && mkfifo mensaje.txt; exit 0 ;;
*marcas*) printf '<b>No</b> responde\033[1m\t\r\nsegunda\n'; exit 2 ;;
*) echo "Mensaje enviado a $2." ;;
esac
exit 0
