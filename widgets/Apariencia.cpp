#include "widgets/Apariencia.h"

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
class MarcoNitido final : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(
        PrimitiveElement elemento, const QStyleOption *opcion, QPainter *pintor, const QWidget *control) const override
    {
        if (elemento == PE_Frame && qobject_cast<const QAbstractScrollArea *>(control)) {
            qDrawPlainRect(pintor, opcion->rect, opcion->palette.color(QPalette::Mid), 1);
            return;
        }
        QProxyStyle::drawPrimitive(elemento, opcion, pintor, control);
    }
};

} // namespace

namespace Apariencia {

QFont letra(int pixeles, bool negrita)
{
    // The captions are measured for these widths: faces made to the same metrics only.
    QFont f;
    f.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial") });
    f.setPixelSize(pixeles);
    f.setBold(negrita);
    return f;
}

void aplicar()
{
    static bool aplicada = false;
    if (aplicada)
        return;
    aplicada = true;

    auto *qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;

    QApplication::setStyle(new MarcoNitido(QApplication::style()->name()));
    // Without a class name this also drops the fonts a desktop theme sets per class (menus,
    // message boxes), so that they too use the program's face.
    QApplication::setFont(letra());
}

} // namespace Apariencia
