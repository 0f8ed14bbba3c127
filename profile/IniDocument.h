#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// One profile file held in memory as its raw lines, so that a change rewrites only the
// line of its key and every other byte stays as it was. Names and values are decoded
// from Windows-1252. Lookup goes through one hash per section.
class IniDocument final
{
public:
    IniDocument();

    static IniDocument parse(const QByteArray &bytes);

    QByteArray toBytes() const;

    // The value of key in section (blanks around it removed, matching double quotes
    // dropped), or a null QString when either is absent. The first of duplicated
    // sections or keys wins; names match without regard to case.
    QString value(const QString &section, const QString &key) const;

    // Rewrites the line of the key, or adds the key after the last key line of its
    // section, or adds the section at the end. The line is written with CR LF. The
    // names must be valid (see isValidName); the value must hold no line break.
    void setValue(const QString &section, const QString &key, const QString &value);

    // Whether name can be written as a section or key name and read back as itself.
    static bool isValidName(const QString &name, bool isSection);

    // The form under which a name is looked up: as it reads back from the file, case-folded.
    static QString foldName(const QString &name);

private:
    struct Section
    {
        QByteArray header; // raw header line with its line end; empty for the lines before any section
        QList<QByteArray> lines; // raw lines with their line ends
        QHash<QString, qsizetype> keys;
        qsizetype lastKeyLine = -1;
    };

    static void terminate(QByteArray &line);

    QList<Section> m_sections; // m_sections[0] holds the lines before the first header
    QHash<QString, qsizetype> m_sectionIndex;
};
