#include "widgets/Appearance.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLibraryInfo>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTranslator>
#include <qdrawutil.h>

namespace {

// Lists, tables and text areas framed by filled edges rather than by a line: at a fractional
// scale factor a line lands between device pixels, the viewport painted after it covers it,
// and the list loses its top or right border.
class SharpFrame final : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(
        PrimitiveElement item, const QStyleOption *option, QPainter *painter, const QWidget *control) const override
    {
        if (item == PE_Frame && qobject_cast<const QAbstractScrollArea *>(control)) {
            qDrawPlainRect(painter, option->rect, option->palette.color(QPalette::Mid), 1);
            return;
        }
        QProxyStyle::drawPrimitive(item, option, painter, control);
    }
};

} // namespace

namespace Appearance {

QFont font(int pixels, bool bold)
{
    // The captions are measured for these widths: faces made to the same metrics only.
    QFont f;
    f.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial") });
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void apply()
{
    static bool applied = false;
    if (applied)
        return;
    applied = true;

    auto *qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;

    QApplication::setStyle(new SharpFrame(QApplication::style()->name()));
    // Without a class name this also drops the fonts a desktop theme sets per class (menus,
    // message boxes), so that they too use the program's face.
    QApplication::setFont(font());
}

} // namespace Appearance
