#include "addressbook/Module.h"
#include "addressbook/frmBuscar.h"
#include "addressbook/frmEquipos.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "profile/ProfileFiles.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace TestSupport;

// The address book editor, driven through its real controls; the book lives in a
// temporary program directory.
class tst_frmEquipos : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void captionsAsDesigned_data();
    void captionsAsDesigned();
    void tabOrderAndKeys();
    void opensOnComputersWithoutCreatingFile();
    void rowsInProperCaseSortedKindsApart();
    void addKeepsNameAsTyped_data();
    void addKeepsNameAsTyped();
    void cancelRewritesBookUnchanged();
    void cancelWithoutBookCreatesEmptyOne();
    void deleteRemovesTheEntryOfTheRow_data();
    void deleteRemovesTheEntryOfTheRow();
    void deleteTellsApartRowsDifferingInCase();
    void deleteWithoutSelectionWritesNothing();
    void fullListRefusesAnotherEntry();
    void failedSaveKeepsRowsTrueToTheBook();
    void searchOffersWhatTheListLacksAndAddsTheMarked_data();
    void searchOffersWhatTheListLacksAndAddsTheMarked();
    void searchOutcomesThatAddNothing_data();
    void searchOutcomesThatAddNothing();
    void searchThatHangsEndsAtItsBoundWithoutFreezing();

private:
    // Written by a Module of its own, so that the editor's Module must read the file.
    void escribirLibreta(const QStringList &equipos, const QStringList &redes)
    {
        Module escritor(*m_rt, m_ruta);
        QVERIFY(writeBook(escritor, equipos, redes));
    }
    QString leer(const QString &seccion, const QString &clave)
    {
        return ProfileFiles().read(m_ruta + QStringLiteral("enviara.ini"), seccion, clave);
    }
    QStringList filas() const { return itemTexts(m_lst); }
    QRadioButton *option(int k) const
    {
        return child<QRadioButton>(m_editor.get(), QStringLiteral("optElemento(%1)").arg(k));
    }
    void elegirFila(const QString &texto);
    void abrir();
    QPushButton *boton(const char *nombre) const { return child<QPushButton>(m_editor.get(), QLatin1String(nombre)); }

    QTemporaryDir m_dir;
    QString m_ruta;
    std::unique_ptr<FakeRuntime> m_rt;
    std::unique_ptr<Module> m_module;
    std::unique_ptr<frmEquipos> m_editor;
    QListWidget *m_lst = nullptr;
};

void tst_frmEquipos::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(prepareEnvironment(m_dir.path()));
}

void tst_frmEquipos::init()
{
    const QString programa = m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('_')
        + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    QVERIFY(QDir().mkpath(programa));
    m_ruta = programa + QLatin1Char('/');
    m_rt = std::make_unique<FakeRuntime>();
    m_module = std::make_unique<Module>(*m_rt, m_ruta);
}

void tst_frmEquipos::cleanup()
{
    m_editor.reset();
    m_module.reset();
    m_rt.reset();
}

void tst_frmEquipos::elegirFila(const QString &texto)
{
    QVERIFY2(clickItem(m_lst, texto), qPrintable(texto));
    QCOMPARE(m_lst->selectedItems().size(), 1);
    QCOMPARE(m_lst->selectedItems().first()->text(), texto);
}

void tst_frmEquipos::abrir()
{
    m_editor = std::make_unique<frmEquipos>(*m_rt, *m_module);
    m_lst = child<QListWidget>(m_editor.get(), QStringLiteral("lstElementos"));
    QVERIFY(m_lst);
    QVERIFY(activate(m_editor.get()));
}

void tst_frmEquipos::captionsAsDesigned_data()
{
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<QString>("texto");
    QTest::newRow("optElemento(0)") << "optElemento(0)"
                                    << "Equipos y usuarios";
    QTest::newRow("optElemento(1)") << "optElemento(1)"
                                    << "Grupos de trabajo o dominios";
    QTest::newRow("Command1") << "Command1" << QStringLiteral("&Añadir");
    QTest::newRow("Command2") << "Command2"
                              << "&Eliminar";
    QTest::newRow("Command3") << "Command3"
                              << "&Cerrar";
}

void tst_frmEquipos::captionsAsDesigned()
{
    QFETCH(QString, nombre);
    QFETCH(QString, texto);
    abrir();
    QCOMPARE(m_editor->windowTitle(), QStringLiteral("Lista de equipos y subredes"));
    QCOMPARE(m_editor->minimumSize(), m_editor->maximumSize());
    QVERIFY(!(m_editor->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(child<QAbstractButton>(m_editor.get(), nombre)->text(), texto);
    QVERIFY(!child<QLabel>(m_editor.get(), QStringLiteral("Image1"))->pixmap().isNull());
}

void tst_frmEquipos::tabOrderAndKeys()
{
    escribirLibreta({ QStringLiteral("pc1") }, {});
    abrir();
    const QStringList orden { QStringLiteral("optElemento(0)"), QStringLiteral("optElemento(1)"),
        QStringLiteral("lstElementos"), QStringLiteral("Command1"), QStringLiteral("Command2"),
        QStringLiteral("Command3") };
    QWidget *w = m_editor->findChild<QWidget *>(orden.first());
    for (qsizetype i = 1; i < orden.size(); ++i) {
        w = w->nextInFocusChain();
        while (w->objectName().isEmpty() || w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        QCOMPARE(w->objectName(), orden.at(i));
    }

    // Esc closes the window like "&Cerrar".
    QTest::keyClick(m_lst, Qt::Key_Escape);
    QVERIFY(!m_editor->isVisible());
    QCOMPARE(m_editor->result(), int(QDialog::Rejected));

    abrir();
    QTest::mouseClick(boton("Command3"), Qt::LeftButton);
    QVERIFY(!m_editor->isVisible());
}

void tst_frmEquipos::opensOnComputersWithoutCreatingFile()
{
    abrir();
    QVERIFY(option(0)->isChecked());
    QCOMPARE(m_editor->TipoElegido(), 0);
    QCOMPARE(m_lst->count(), 0);
    QTest::mouseClick(option(1), Qt::LeftButton);
    QCOMPARE(m_editor->TipoElegido(), 1);
    QCOMPARE(m_lst->count(), 0);
    QVERIFY(!QFile::exists(m_module->rutaLibreta()));
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::rowsInProperCaseSortedKindsApart()
{
    escribirLibreta(
        { QStringLiteral("zeta"), QStringLiteral("alfa"), QStringLiteral("SERVIDOR1"), QStringLiteral("álvaro núñez") },
        { QStringLiteral("WORKGROUP"), QStringLiteral("dominio casa") });
    abrir();
    QCOMPARE(filas(),
        (QStringList { QStringLiteral("Alfa"), QStringLiteral("Álvaro Núñez"), QStringLiteral("Servidor1"),
            QStringLiteral("Zeta") }));
    QTest::mouseClick(option(1), Qt::LeftButton);
    QCOMPARE(filas(), (QStringList { QStringLiteral("Dominio Casa"), QStringLiteral("Workgroup") }));
    // Nothing of this changes the book.
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("3")), QStringLiteral("SERVIDOR1"));
}

void tst_frmEquipos::addKeepsNameAsTyped_data()
{
    QTest::addColumn<int>("tipo");
    QTest::addColumn<QString>("seccion");
    QTest::addColumn<QString>("pregunta");
    QTest::newRow("computers") << 0 << "Equipos"
                               << "Escriba el nombre del usuario o nombre de equipo:";
    QTest::newRow("workgroups") << 1 << "Redes"
                                << "Escriba el nombre del grupo de trabajo o dominio:";
}

void tst_frmEquipos::addKeepsNameAsTyped()
{
    QFETCH(int, tipo);
    QFETCH(QString, seccion);
    QFETCH(QString, pregunta);
    escribirLibreta({ QStringLiteral("pc1") }, { QStringLiteral("grupo") });
    abrir();
    auto *elegida = option(tipo);
    auto *otra = option(1 - tipo);
    QTest::mouseClick(elegida, Qt::LeftButton);

    m_rt->m_inputAnswers = { QStringLiteral("pepe garcia"), QStringLiteral("pepe garcia"), QStringLiteral("  ") };
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(boton("Command1"), Qt::LeftButton);
    QCOMPARE(m_rt->m_inputPrompts, QStringList(3, QStringLiteral("Insertar elemento|") + pregunta));

    // As typed, twice, blanks-only included; stored after the existing entry.
    QCOMPARE(leer(seccion, QStringLiteral("Total")), QStringLiteral("4"));
    QCOMPARE(leer(seccion, QStringLiteral("2")), QStringLiteral("pepe garcia"));
    QCOMPARE(leer(seccion, QStringLiteral("3")), QStringLiteral("pepe garcia"));
    QCOMPARE(leer(seccion, QStringLiteral("4")), QStringLiteral("  "));
    QCOMPARE(m_lst->findItems(QStringLiteral("pepe garcia"), Qt::MatchExactly).size(), 2);
    QCOMPARE(m_lst->findItems(QStringLiteral("  "), Qt::MatchExactly).size(), 1);
    QCOMPARE(m_lst->count(), 4);
    // The other kind is untouched.
    QCOMPARE(leer(tipo == 0 ? QStringLiteral("Redes") : QStringLiteral("Equipos"), QStringLiteral("Total")),
        QStringLiteral("1"));

    // Filled again from the book, the rows show proper case; the file keeps the name.
    QTest::mouseClick(otra, Qt::LeftButton);
    QTest::mouseClick(elegida, Qt::LeftButton);
    QCOMPARE(m_lst->findItems(QStringLiteral("Pepe Garcia"), Qt::MatchExactly).size(), 2);
    QCOMPARE(leer(seccion, QStringLiteral("2")), QStringLiteral("pepe garcia"));
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::cancelRewritesBookUnchanged()
{
    escribirLibreta({ QStringLiteral("pc1"), QStringLiteral("pc2") }, { QStringLiteral("grupo") });
    const QString archivo = m_ruta + QStringLiteral("enviara.ini");
    const QByteArray antes = readFile(archivo);

    abrir();
    // Dated back by a day, so that a rewrite shows in its time whatever the clock's resolution.
    const QDateTime tocado = QFileInfo(archivo).lastModified().addDays(-1);
    QFile libreta(archivo);
    QVERIFY(libreta.open(QIODevice::ReadWrite) && libreta.setFileTime(tocado, QFileDevice::FileModificationTime));
    libreta.close();
    QTest::mouseClick(boton("Command1"), Qt::LeftButton); // no answer: Cancel
    QCOMPARE(m_rt->m_inputPrompts.size(), 1);
    QCOMPARE(readFile(archivo), antes);
    QVERIFY(QFileInfo(archivo).lastModified() > tocado); // it was written again
    QCOMPARE(filas(), (QStringList { QStringLiteral("Pc1"), QStringLiteral("Pc2") }));
    QCOMPARE(m_module->TotalEquipos, qint16(2));
}

void tst_frmEquipos::cancelWithoutBookCreatesEmptyOne()
{
    abrir();
    QTest::mouseClick(boton("Command1"), Qt::LeftButton);
    QVERIFY(QFile::exists(m_module->rutaLibreta()));
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("0"));
    QCOMPARE(leer(QStringLiteral("Redes"), QStringLiteral("Total")), QStringLiteral("0"));
    QCOMPARE(m_lst->count(), 0);
}

void tst_frmEquipos::deleteRemovesTheEntryOfTheRow_data()
{
    QTest::addColumn<QStringList>("entradas");
    QTest::addColumn<QStringList>("borrar"); // row texts, deleted in turn (the first match)
    QTest::addColumn<QStringList>("quedan");
    QTest::addColumn<QStringList>("filasFinales");
    QTest::newRow("alfa from zeta alfa beta") << QStringList { "zeta", "alfa", "beta" } << QStringList { "Alfa" }
                                              << QStringList { "zeta", "beta" } << QStringList { "Beta", "Zeta" };
    QTest::newRow("rows after a deletion move up")
        << QStringList { "ana", "bob", "ana", "carl" } << QStringList { "Bob", "Carl" } << QStringList { "ana", "ana" }
        << QStringList { "Ana", "Ana" };
    QTest::newRow("same name twice") << QStringList { "ana", "bob", "ana" } << QStringList { "Ana" }
                                     << QStringList { "bob", "ana" } << QStringList { "Ana", "Bob" };
    QTest::newRow("both of the same name") << QStringList { "ana", "bob", "ana" } << QStringList { "Ana", "Ana" }
                                           << QStringList { "bob" } << QStringList { "Bob" };
    QTest::newRow("only entry") << QStringList { "solo" } << QStringList { "Solo" } << QStringList {} << QStringList {};
    QTest::newRow("last then first") << QStringList { "b", "c", "a" } << QStringList { "C", "B" } << QStringList { "a" }
                                     << QStringList { "A" };
}

void tst_frmEquipos::deleteRemovesTheEntryOfTheRow()
{
    QFETCH(QStringList, entradas);
    QFETCH(QStringList, borrar);
    QFETCH(QStringList, quedan);
    QFETCH(QStringList, filasFinales);
    escribirLibreta(entradas, { QStringLiteral("grupo") });
    abrir();
    for (const QString &texto : borrar) {
        elegirFila(texto);
        QTest::mouseClick(boton("Command2"), Qt::LeftButton);
    }
    QCOMPARE(filas(), filasFinales);
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("Total")), QString::number(quedan.size()));
    QStringList enArchivo;
    for (qsizetype p = 1; p <= quedan.size(); ++p)
        enArchivo << leer(QStringLiteral("Equipos"), QString::number(p));
    // With equal names the row chosen may stand for either entry; what stays must still be
    // exactly the other entries, in their stored order.
    if (QTest::currentDataTag() == QByteArray("same name twice")) {
        QCOMPARE(enArchivo.size(), 2);
        QVERIFY(enArchivo == (QStringList { "bob", "ana" }) || enArchivo == (QStringList { "ana", "bob" }));
    } else {
        QCOMPARE(enArchivo, quedan);
    }
    QCOMPARE(m_module->TotalEquipos, qint16(quedan.size()));
    QCOMPARE(leer(QStringLiteral("Redes"), QStringLiteral("1")), QStringLiteral("grupo"));
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::deleteTellsApartRowsDifferingInCase()
{
    // "PEPE" from the book shows "Pepe"; "pepe" added shows as typed: two rows, two entries.
    escribirLibreta({ QStringLiteral("PEPE"), QStringLiteral("zeta") }, {});
    abrir();
    m_rt->m_inputAnswers = { QStringLiteral("pepe") };
    QTest::mouseClick(boton("Command1"), Qt::LeftButton);
    QCOMPARE(filas(), (QStringList { QStringLiteral("Pepe"), QStringLiteral("pepe"), QStringLiteral("Zeta") }));

    elegirFila(QStringLiteral("Pepe"));
    QTest::mouseClick(boton("Command2"), Qt::LeftButton);
    QCOMPARE(filas(), (QStringList { QStringLiteral("pepe"), QStringLiteral("Zeta") }));
    QCOMPARE(m_module->ListaEquipos.mid(0, m_module->TotalEquipos),
        (QStringList { QStringLiteral("zeta"), QStringLiteral("pepe") }));

    elegirFila(QStringLiteral("pepe"));
    QTest::mouseClick(boton("Command2"), Qt::LeftButton);
    QCOMPARE(m_module->ListaEquipos.mid(0, m_module->TotalEquipos), QStringList { QStringLiteral("zeta") });
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("1"));
}

void tst_frmEquipos::deleteWithoutSelectionWritesNothing()
{
    escribirLibreta({ QStringLiteral("pc1") }, {});
    abrir();
    const QString ruta = m_module->rutaLibreta();
    QVERIFY(QFile::remove(ruta));
    // Even with a current row, nothing is deleted until a row is selected.
    m_lst->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    QTest::mouseClick(boton("Command2"), Qt::LeftButton);
    QVERIFY(!QFile::exists(ruta));
    QCOMPARE(filas(), QStringList { QStringLiteral("Pc1") });
    QCOMPARE(m_module->TotalEquipos, qint16(1));
}

void tst_frmEquipos::fullListRefusesAnotherEntry()
{
    // Missing entry keys load as empty entries: a full list without a 32,767-line file.
    QVERIFY(writeFile(
        m_ruta + QStringLiteral("enviara.ini"), "[Equipos]\r\nTotal=32767\r\n[Redes]\r\nTotal=1\r\n1=grupo\r\n"));
    abrir();
    QCOMPARE(m_lst->count(), 32767);
    m_rt->m_inputAnswers = { QStringLiteral("uno mas") };
    QTest::mouseClick(boton("Command1"), Qt::LeftButton);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QVERIFY(m_rt->m_boxes.first().text.contains(QStringLiteral("32767")));
    QVERIFY(m_rt->m_inputPrompts.isEmpty());
    QCOMPARE(m_module->TotalEquipos, qint16(32767));
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("32767"));

    // The other kind still takes new names.
    QTest::mouseClick(option(1), Qt::LeftButton);
    QTest::mouseClick(boton("Command1"), Qt::LeftButton);
    QCOMPARE(leer(QStringLiteral("Redes"), QStringLiteral("2")), QStringLiteral("uno mas"));
}

void tst_frmEquipos::failedSaveKeepsRowsTrueToTheBook()
{
    escribirLibreta({ QStringLiteral("ana"), QStringLiteral("bob") }, {});
    const QString ruta = m_ruta + QStringLiteral("enviara.ini");
    QVERIFY(QFile::setPermissions(ruta, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    abrir();

    // The deletion cannot be saved: the rows show the book as it still is.
    elegirFila(QStringLiteral("Ana"));
    QTest::mouseClick(boton("Command2"), Qt::LeftButton);
    QVERIFY(!m_rt->m_boxes.isEmpty());
    QCOMPARE(m_rt->m_boxes.first().text, QStringLiteral("PUFF"));
    QCOMPARE(filas(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Bob") }));

    // Nor can an addition; once the file can be written, deleting "Bob" removes bob.
    m_rt->m_inputAnswers = { QStringLiteral("carl") };
    QTest::mouseClick(boton("Command1"), Qt::LeftButton);
    QCOMPARE(filas(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Bob") }));
    QVERIFY(QFile::setPermissions(ruta, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    elegirFila(QStringLiteral("Bob"));
    QTest::mouseClick(boton("Command2"), Qt::LeftButton);
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("1"));
    QCOMPARE(leer(QStringLiteral("Equipos"), QStringLiteral("1")), QStringLiteral("ana"));
}

// "Buscar en la red...": `net view` beside the program (a fake answering from net.vista)
// finds names; those the list lacks, compared without case, are offered; the marked ones
// are added as "&Añadir" adds a typed name.
void tst_frmEquipos::searchOffersWhatTheListLacksAndAddsTheMarked_data()
{
    QTest::addColumn<int>("tipo");
    QTest::addColumn<QString>("seccion");
    QTest::addColumn<QStringList>("argumentos");
    QTest::newRow("computers") << 0 << "Equipos" << QStringList { "view" };
    QTest::newRow("workgroups") << 1 << "Redes" << QStringList { "view", "/domain" };
}

void tst_frmEquipos::searchOffersWhatTheListLacksAndAddsTheMarked()
{
    QFETCH(int, tipo);
    QFETCH(QString, seccion);
    QFETCH(QStringList, argumentos);
    const QStringList libro { QStringLiteral("oficina1"), QStringLiteral(" Oficina2 ") };
    escribirLibreta(tipo == 0 ? libro : QStringList(), tipo == 1 ? libro : QStringList());
    QVERIFY(prepareProgram(m_ruta, QStringLiteral("net_vista.sh")));
    QVERIFY(writeFile(m_ruta + QStringLiteral("net.vista"),
        "0\nEncabezado:\nNUEVO2\nOFICINA1\nnuevo1\nOFICINA2\nMAL NOMBRE\nNUEVO3\nNuevo1\n"));
    m_rt->m_appPath = m_ruta;
    abrir();
    QTest::mouseClick(option(tipo), Qt::LeftButton);

    QStringList ofrecidos;
    const auto dialogo = onModal<frmBuscar>([&](frmBuscar *eleccion) {
        auto *lista = eleccion->findChild<QListWidget *>(QStringLiteral("lstEncontrados"));
        auto *anadir = eleccion->findChild<QPushButton *>(QStringLiteral("cmdAnadir"));
        ofrecidos = itemTexts(lista);
        // Nothing marked, nothing to add.
        const bool vacioDeshabilitado = !anadir->isEnabled();
        for (const QString &nombre : { QStringLiteral("NUEVO3"), QStringLiteral("NUEVO2") })
            lista->findItems(nombre, Qt::MatchExactly).first()->setCheckState(Qt::Checked);
        if (vacioDeshabilitado && anadir->isEnabled())
            QTest::mouseClick(anadir, Qt::LeftButton);
    });
    QTest::mouseClick(boton("cmdBuscar"), Qt::LeftButton);

    QCOMPARE(netCalls(m_ruta), QList<QStringList> { argumentos });
    QCOMPARE(ofrecidos, (QStringList { QStringLiteral("NUEVO2"), QStringLiteral("nuevo1"), QStringLiteral("NUEVO3") }));
    QCOMPARE(leer(seccion, QStringLiteral("Total")), QStringLiteral("4"));
    QCOMPARE(leer(seccion, QStringLiteral("3")), QStringLiteral("NUEVO2"));
    QCOMPARE(leer(seccion, QStringLiteral("4")), QStringLiteral("NUEVO3"));
    QCOMPARE(filas(),
        (QStringList { QStringLiteral(" Oficina2 "), QStringLiteral("NUEVO2"), QStringLiteral("NUEVO3"),
            QStringLiteral("Oficina1") }));
    QVERIFY(!m_rt->m_hourglass);
    QCOMPARE(m_rt->m_hourglassChanges, 2);
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::searchOutcomesThatAddNothing_data()
{
    QTest::addColumn<QByteArray>("respuesta"); // net.vista; empty: no net beside the program
    QTest::addColumn<QString>("texto");
    QTest::addColumn<int>("icono");
    QTest::newRow("net says why") << QByteArray("1\nError: no se encuentra el programa nmblookup en el PATH.\n")
                                  << "Error: no se encuentra el programa nmblookup en el PATH."
                                  << int(Runtime::Icon::Critical);
    QTest::newRow("net ends badly in silence")
        << QByteArray("3\n") << "El programa net terminó con el código 3." << int(Runtime::Icon::Critical);
    QTest::newRow("nobody found") << QByteArray("0\nNo se ha encontrado ningún equipo del grupo OFICINA.\n")
                                  << "No se ha encontrado ningún equipo en la red." << int(Runtime::Icon::Information);
    QTest::newRow("all found are there") << QByteArray("0\nEquipos del grupo OFICINA:\nPC1\n")
                                         << "Todos los equipos encontrados en la red ya están en la lista."
                                         << int(Runtime::Icon::Information);
    QTest::newRow("no net beside the program")
        << QByteArray() << "No se encuentra el programa net en %1." << int(Runtime::Icon::Critical);
}

void tst_frmEquipos::searchOutcomesThatAddNothing()
{
    QFETCH(QByteArray, respuesta);
    QFETCH(QString, texto);
    QFETCH(int, icono);
    escribirLibreta({ QStringLiteral("pc1") }, {});
    std::function<void()> restaurar = [] {};
    auto alFinal = qScopeGuard([&] { restaurar(); });
    if (respuesta.isEmpty()) {
        // One on the search path and one in the data folder, neither to be taken instead.
        const QString enRuta = m_dir.filePath(QStringLiteral("enRuta"));
        QVERIFY(prepareProgram(enRuta, QStringLiteral("net_vista.sh")));
        m_rt->m_dataPath = m_dir.filePath(QStringLiteral("enDatos"));
        QVERIFY(prepareProgram(m_rt->m_dataPath, QStringLiteral("net_vista.sh")));
        const QByteArray ruta = qgetenv("PATH");
        qputenv("PATH", enRuta.toLocal8Bit() + ':' + ruta);
        restaurar = [ruta] { qputenv("PATH", ruta); };
        texto = texto.arg(m_ruta.chopped(1));
    } else {
        QVERIFY(prepareProgram(m_ruta, QStringLiteral("net_vista.sh")));
        QVERIFY(writeFile(m_ruta + QStringLiteral("net.vista"), respuesta));
    }
    const QByteArray antes = readFile(m_module->rutaLibreta());
    m_rt->m_appPath = m_ruta.chopped(1);
    abrir();
    // Nothing is to be offered: a choice that shows up anyway is closed and noted.
    bool ofrecido = false;
    const auto vigia = onModal<frmBuscar>([&](frmBuscar *eleccion) {
        ofrecido = true;
        eleccion->reject();
    });
    QTest::mouseClick(boton("cmdBuscar"), Qt::LeftButton);
    QVERIFY(!ofrecido);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.first().text, texto);
    QCOMPARE(int(m_rt->m_boxes.first().icon), icono);
    QCOMPARE(m_rt->m_boxes.first().title, frmBuscar::kTitulo);
    QCOMPARE(readFile(m_module->rutaLibreta()), antes);
    QCOMPARE(netCalls(m_dir.filePath(QStringLiteral("enRuta"))).size(), 0);
    QCOMPARE(netCalls(m_dir.filePath(QStringLiteral("enDatos"))).size(), 0);
    QVERIFY(!m_rt->m_hourglass);
}

// A net that never answers is given up at its bound (twice Espera and two seconds), and
// stopped; meanwhile the event loop runs, so the windows keep painting.
void tst_frmEquipos::searchThatHangsEndsAtItsBoundWithoutFreezing()
{
    QVERIFY(prepareProgram(m_ruta, QStringLiteral("net_vista.sh")));
    QVERIFY(writeFile(m_ruta + QStringLiteral("net.ini"), "[Opciones]\r\nEspera=1\r\n"));
    m_rt->m_appPath = m_ruta;
    abrir();
    int latidos = 0;
    QTimer latido;
    connect(&latido, &QTimer::timeout, this, [&] { ++latidos; });
    latido.start(100);
    QElapsedTimer reloj;
    reloj.start();
    QTest::mouseClick(boton("cmdBuscar"), Qt::LeftButton);
    qInfo("gave up after %lld ms, %d ticks of a 100 ms timer meanwhile", reloj.elapsed(), latidos);

    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.first().text, QStringLiteral("La búsqueda en la red no ha terminado en 4 segundos."));
    QVERIFY(latidos >= 20);
    const QByteArray pid = readFile(m_ruta + QStringLiteral("net.pid")).trimmed();
    QVERIFY(!pid.isEmpty() && pid != "<missing>");
    QVERIFY(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));
    QVERIFY(!m_rt->m_hourglass);
    QVERIFY(m_editor->isVisible());
}

QTEST_MAIN(tst_frmEquipos)
#include "tst_frmEquipos.moc"
