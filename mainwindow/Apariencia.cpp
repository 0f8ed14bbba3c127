#include "mainwindow/Apariencia.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

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

    // Without a class name this also drops the fonts a desktop theme sets per class (menus,
    // message boxes), so that they too use the program's face.
    QApplication::setFont(letra());
}

} // namespace Apariencia
