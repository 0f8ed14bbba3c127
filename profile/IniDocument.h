#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// One profile file held in memory as its raw bytes, so that a change rewrites only the line
// of its key and every other byte stays as it was. Names and values are decoded from
// Windows-1252.
//
// The parsed file stays compact whatever it holds (a million sections take about twice the
// file's size): the bytes themselves, where each section starts, and two flat hash tables
// that point into the bytes, the one of the keys built when it is first worth it. Changes are
// kept beside them and merged in by toBytes(); copies share the parsed file, so that neither
// a document nor its copies may be used from two threads at once.
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

    // value(section, "1") to value(section, "count") in one pass over the section: what a
    // list stored one entry per numbered key reads as.
    QStringList numberedValues(const QString &section, int count) const;

    // Rewrites the line of the key, or adds the key after the last key line of its
    // section, or adds the section at the end. The line is written with CR LF, or with a
    // CR alone in a file whose lines all end that way (saved the old Mac way). The names
    // must be valid (see isValidName); the value must hold no line break.
    void setValue(const QString &section, const QString &key, const QString &value);

    // Whether name can be written as a section or key name and read back as itself.
    static bool isValidName(const QString &name, bool isSection);

private:
    struct Base;

    // A name as the file spells it, compared and hashed without regard to case.
    struct Name
    {
        QByteArray bytes;
        bool operator==(const Name &other) const;
    };
    friend size_t qHash(const Name &name, size_t salt);

    // Key lines added to one section, in the order they were added; for a section that the
    // parsed file lacks, its header too.
    struct Added
    {
        QByteArray header;
        QList<QByteArray> lines;
        QHash<Name, qsizetype> keys;
    };

    // The number of the section of that name, parsed or added; ~0 when there is none.
    quint32 findSection(const QByteArray &name) const;

    std::shared_ptr<const Base> m_base;
    QHash<quint32, QByteArray> m_replaced; // start of a parsed key line -> the line that replaces it
    QMap<quint32, Added> m_added; // section number -> its added lines; new sections follow the parsed ones
    QHash<Name, quint32> m_newSections;
};
