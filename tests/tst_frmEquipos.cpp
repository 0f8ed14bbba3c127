#include "addressbook/Module.h"
#include "addressbook/frmEquipos.h"
#include "addressbook/frmSearch.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "profile/ProfileFiles.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
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
    void storeBook(const QStringList &computers, const QStringList &workgroups)
    {
        Module writer(*m_rt, m_programPath);
        QVERIFY(writeBook(writer, computers, workgroups));
    }
    QString readEntry(const QString &section, const QString &key)
    {
        return ProfileFiles().read(m_programPath + QStringLiteral("enviara.ini"), section, key);
    }
    QStringList rows() const { return itemTexts(m_lst); }
    QRadioButton *option(int k) const
    {
        return child<QRadioButton>(m_editor.get(), QStringLiteral("optElemento(%1)").arg(k));
    }
    void selectRow(const QString &text);
    void openEditor();
    QPushButton *button(const char *name) const { return child<QPushButton>(m_editor.get(), QLatin1String(name)); }

    ProgramFixture m_fixture;
    QString m_programPath;
    FakeRuntime *m_rt = nullptr;
    std::unique_ptr<Module> m_module;
    std::unique_ptr<frmEquipos> m_editor;
    QListWidget *m_lst = nullptr;
};

void tst_frmEquipos::initTestCase()
{
    QVERIFY(m_fixture.prepare());
}

void tst_frmEquipos::init()
{
    QVERIFY(m_fixture.renew());
    m_programPath = m_fixture.programPath();
    m_rt = &m_fixture.rt();
    m_module = std::make_unique<Module>(*m_rt, m_programPath);
}

void tst_frmEquipos::cleanup()
{
    m_editor.reset();
    m_module.reset();
    m_rt = nullptr;
    m_fixture.reset();
}

void tst_frmEquipos::selectRow(const QString &text)
{
    QVERIFY2(clickItem(m_lst, text), qPrintable(text));
    QCOMPARE(m_lst->selectedItems().size(), 1);
    QCOMPARE(m_lst->selectedItems().first()->text(), text);
}

void tst_frmEquipos::openEditor()
{
    m_editor = std::make_unique<frmEquipos>(*m_rt, *m_module);
    m_lst = child<QListWidget>(m_editor.get(), QStringLiteral("lstElementos"));
    QVERIFY(m_lst);
    QVERIFY(activate(m_editor.get()));
}

void tst_frmEquipos::captionsAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
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
    QFETCH(QString, name);
    QFETCH(QString, text);
    openEditor();
    QCOMPARE(m_editor->windowTitle(), QStringLiteral("Lista de equipos y subredes"));
    QCOMPARE(m_editor->minimumSize(), m_editor->maximumSize());
    QVERIFY(!(m_editor->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(child<QAbstractButton>(m_editor.get(), name)->text(), text);
    QVERIFY(!child<QLabel>(m_editor.get(), QStringLiteral("Image1"))->pixmap().isNull());
}

void tst_frmEquipos::tabOrderAndKeys()
{
    storeBook({ QStringLiteral("pc1") }, {});
    openEditor();
    const QStringList order { QStringLiteral("optElemento(0)"), QStringLiteral("optElemento(1)"),
        QStringLiteral("lstElementos"), QStringLiteral("Command1"), QStringLiteral("Command2"),
        QStringLiteral("Command3") };
    QWidget *w = m_editor->findChild<QWidget *>(order.first());
    for (qsizetype i = 1; i < order.size(); ++i) {
        w = w->nextInFocusChain();
        while (w->objectName().isEmpty() || w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        QCOMPARE(w->objectName(), order.at(i));
    }

    // Esc closes the window like "&Cerrar".
    QTest::keyClick(m_lst, Qt::Key_Escape);
    QVERIFY(!m_editor->isVisible());
    QCOMPARE(m_editor->result(), int(QDialog::Rejected));

    openEditor();
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    QVERIFY(!m_editor->isVisible());
}

void tst_frmEquipos::opensOnComputersWithoutCreatingFile()
{
    openEditor();
    QVERIFY(option(0)->isChecked());
    QCOMPARE(m_editor->TipoElegido(), 0);
    QCOMPARE(m_lst->count(), 0);
    QTest::mouseClick(option(1), Qt::LeftButton);
    QCOMPARE(m_editor->TipoElegido(), 1);
    QCOMPARE(m_lst->count(), 0);
    QVERIFY(!QFile::exists(m_module->addressBookPath()));
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::rowsInProperCaseSortedKindsApart()
{
    storeBook(
        { QStringLiteral("zeta"), QStringLiteral("alfa"), QStringLiteral("SERVIDOR1"), QStringLiteral("álvaro núñez") },
        { QStringLiteral("WORKGROUP"), QStringLiteral("dominio casa") });
    openEditor();
    QCOMPARE(rows(),
        (QStringList { QStringLiteral("Alfa"), QStringLiteral("Álvaro Núñez"), QStringLiteral("Servidor1"),
            QStringLiteral("Zeta") }));
    QTest::mouseClick(option(1), Qt::LeftButton);
    QCOMPARE(rows(), (QStringList { QStringLiteral("Dominio Casa"), QStringLiteral("Workgroup") }));
    // Nothing of this changes the book.
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("3")), QStringLiteral("SERVIDOR1"));
}

void tst_frmEquipos::addKeepsNameAsTyped_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("computers") << 0 << "Equipos"
                               << "Escriba el nombre del usuario o nombre de equipo:";
    QTest::newRow("workgroups") << 1 << "Redes"
                                << "Escriba el nombre del grupo de trabajo o dominio:";
}

void tst_frmEquipos::addKeepsNameAsTyped()
{
    QFETCH(int, kind);
    QFETCH(QString, section);
    QFETCH(QString, prompt);
    storeBook({ QStringLiteral("pc1") }, { QStringLiteral("grupo") });
    openEditor();
    auto *chosen = option(kind);
    auto *other = option(1 - kind);
    QTest::mouseClick(chosen, Qt::LeftButton);

    m_rt->m_inputAnswers = { QStringLiteral("pepe garcia"), QStringLiteral("pepe garcia"), QStringLiteral("  ") };
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QCOMPARE(m_rt->m_inputPrompts, QStringList(3, QStringLiteral("Insertar elemento|") + prompt));

    // As typed, twice, blanks-only included; stored after the existing entry.
    QCOMPARE(readEntry(section, QStringLiteral("Total")), QStringLiteral("4"));
    QCOMPARE(readEntry(section, QStringLiteral("2")), QStringLiteral("pepe garcia"));
    QCOMPARE(readEntry(section, QStringLiteral("3")), QStringLiteral("pepe garcia"));
    QCOMPARE(readEntry(section, QStringLiteral("4")), QStringLiteral("  "));
    QCOMPARE(m_lst->findItems(QStringLiteral("pepe garcia"), Qt::MatchExactly).size(), 2);
    QCOMPARE(m_lst->findItems(QStringLiteral("  "), Qt::MatchExactly).size(), 1);
    QCOMPARE(m_lst->count(), 4);
    // The other kind is untouched.
    QCOMPARE(readEntry(kind == 0 ? QStringLiteral("Redes") : QStringLiteral("Equipos"), QStringLiteral("Total")),
        QStringLiteral("1"));

    // Filled again from the book, the rows show proper case; the file keeps the name.
    QTest::mouseClick(other, Qt::LeftButton);
    QTest::mouseClick(chosen, Qt::LeftButton);
    QCOMPARE(m_lst->findItems(QStringLiteral("Pepe Garcia"), Qt::MatchExactly).size(), 2);
    QCOMPARE(readEntry(section, QStringLiteral("2")), QStringLiteral("pepe garcia"));
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::cancelRewritesBookUnchanged()
{
    storeBook({ QStringLiteral("pc1"), QStringLiteral("pc2") }, { QStringLiteral("grupo") });
    const QString bookPath = m_programPath + QStringLiteral("enviara.ini");
    const QByteArray before = readFile(bookPath);

    openEditor();
    // Dated back by a day, so that a rewrite shows in its time whatever the clock's resolution.
    const QDateTime touched = QFileInfo(bookPath).lastModified().addDays(-1);
    QFile bookFile(bookPath);
    QVERIFY(bookFile.open(QIODevice::ReadWrite) && bookFile.setFileTime(touched, QFileDevice::FileModificationTime));
    bookFile.close();
    QTest::mouseClick(button("Command1"), Qt::LeftButton); // no answer: Cancel
    QCOMPARE(m_rt->m_inputPrompts.size(), 1);
    QCOMPARE(readFile(bookPath), before);
    QVERIFY(QFileInfo(bookPath).lastModified() > touched); // it was written again
    QCOMPARE(rows(), (QStringList { QStringLiteral("Pc1"), QStringLiteral("Pc2") }));
    QCOMPARE(m_module->TotalEquipos(), qint16(2));
}

void tst_frmEquipos::cancelWithoutBookCreatesEmptyOne()
{
    openEditor();
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QVERIFY(QFile::exists(m_module->addressBookPath()));
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("0"));
    QCOMPARE(readEntry(QStringLiteral("Redes"), QStringLiteral("Total")), QStringLiteral("0"));
    QCOMPARE(m_lst->count(), 0);
}

void tst_frmEquipos::deleteRemovesTheEntryOfTheRow_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("toDelete"); // row texts, deleted in turn (the first match)
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QStringList>("finalRows");
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
    QFETCH(QStringList, entries);
    QFETCH(QStringList, toDelete);
    QFETCH(QStringList, remaining);
    QFETCH(QStringList, finalRows);
    storeBook(entries, { QStringLiteral("grupo") });
    openEditor();
    for (const QString &text : toDelete) {
        selectRow(text);
        QTest::mouseClick(button("Command2"), Qt::LeftButton);
    }
    QCOMPARE(rows(), finalRows);
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("Total")), QString::number(remaining.size()));
    QStringList inFile;
    for (qsizetype p = 1; p <= remaining.size(); ++p)
        inFile << readEntry(QStringLiteral("Equipos"), QString::number(p));
    // With equal names the row chosen may stand for either entry; what stays must still be
    // exactly the other entries, in their stored order.
    if (QTest::currentDataTag() == QByteArray("same name twice")) {
        QCOMPARE(inFile.size(), 2);
        QVERIFY(inFile == (QStringList { "bob", "ana" }) || inFile == (QStringList { "ana", "bob" }));
    } else {
        QCOMPARE(inFile, remaining);
    }
    QCOMPARE(m_module->TotalEquipos(), qint16(remaining.size()));
    QCOMPARE(readEntry(QStringLiteral("Redes"), QStringLiteral("1")), QStringLiteral("grupo"));
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::deleteTellsApartRowsDifferingInCase()
{
    // "PEPE" from the book shows "Pepe"; "pepe" added shows as typed: two rows, two entries.
    storeBook({ QStringLiteral("PEPE"), QStringLiteral("zeta") }, {});
    openEditor();
    m_rt->m_inputAnswers = { QStringLiteral("pepe") };
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QCOMPARE(rows(), (QStringList { QStringLiteral("Pepe"), QStringLiteral("pepe"), QStringLiteral("Zeta") }));

    selectRow(QStringLiteral("Pepe"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QCOMPARE(rows(), (QStringList { QStringLiteral("pepe"), QStringLiteral("Zeta") }));
    QCOMPARE(m_module->ListaEquipos(), (QStringList { QStringLiteral("zeta"), QStringLiteral("pepe") }));

    selectRow(QStringLiteral("pepe"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QCOMPARE(m_module->ListaEquipos(), QStringList { QStringLiteral("zeta") });
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("1"));
}

void tst_frmEquipos::deleteWithoutSelectionWritesNothing()
{
    storeBook({ QStringLiteral("pc1") }, {});
    openEditor();
    const QString path = m_module->addressBookPath();
    QVERIFY(QFile::remove(path));
    // Even with a current row, nothing is deleted until a row is selected.
    m_lst->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(rows(), QStringList { QStringLiteral("Pc1") });
    QCOMPARE(m_module->TotalEquipos(), qint16(1));
}

void tst_frmEquipos::fullListRefusesAnotherEntry()
{
    // Missing entry keys load as empty entries: a full list without a 32,767-line file.
    QVERIFY(writeFile(m_programPath + QStringLiteral("enviara.ini"),
        "[Equipos]\r\nTotal=32767\r\n[Redes]\r\nTotal=1\r\n1=grupo\r\n"));
    openEditor();
    QCOMPARE(m_lst->count(), 32767);
    m_rt->m_inputAnswers = { QStringLiteral("uno mas") };
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QVERIFY(m_rt->m_boxes.first().text.contains(QStringLiteral("32767")));
    QVERIFY(m_rt->m_inputPrompts.isEmpty());
    QCOMPARE(m_module->TotalEquipos(), qint16(32767));
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("32767"));
}

void tst_frmEquipos::failedSaveKeepsRowsTrueToTheBook()
{
    storeBook({ QStringLiteral("ana"), QStringLiteral("bob") }, {});
    const QString path = m_programPath + QStringLiteral("enviara.ini");
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    openEditor();

    // The deletion cannot be saved: the rows show the book as it still is.
    selectRow(QStringLiteral("Ana"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QVERIFY(!m_rt->m_boxes.isEmpty());
    QCOMPARE(m_rt->m_boxes.first().text, QStringLiteral("PUFF"));
    QCOMPARE(rows(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Bob") }));

    // Nor can an addition; once the file can be written, deleting "Bob" removes bob.
    m_rt->m_inputAnswers = { QStringLiteral("carl") };
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QCOMPARE(rows(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Bob") }));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    selectRow(QStringLiteral("Bob"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("Total")), QStringLiteral("1"));
    QCOMPARE(readEntry(QStringLiteral("Equipos"), QStringLiteral("1")), QStringLiteral("ana"));
}

// "Buscar en la red...": `net view` beside the program (a fake answering from net.vista)
// finds names; those the list lacks, compared without case, are offered; the marked ones
// are added as "&Añadir" adds a typed name.
void tst_frmEquipos::searchOffersWhatTheListLacksAndAddsTheMarked_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("computers") << 0 << "Equipos" << QStringList { "view" };
    QTest::newRow("workgroups") << 1 << "Redes" << QStringList { "view", "/domain" };
}

void tst_frmEquipos::searchOffersWhatTheListLacksAndAddsTheMarked()
{
    QFETCH(int, kind);
    QFETCH(QString, section);
    QFETCH(QStringList, arguments);
    const QStringList book { QStringLiteral("oficina1"), QStringLiteral(" Oficina2 ") };
    storeBook(kind == 0 ? book : QStringList(), kind == 1 ? book : QStringList());
    QVERIFY(prepareProgram(m_programPath, QStringLiteral("net_vista.sh")));
    QVERIFY(writeFile(m_programPath + QStringLiteral("net.vista"),
        "0\nEncabezado:\nNUEVO2\nOFICINA1\nnuevo1\nOFICINA2\nMAL NOMBRE\nNUEVO3\nNuevo1\n"));
    m_rt->m_appPath = m_programPath;
    openEditor();
    QTest::mouseClick(option(kind), Qt::LeftButton);

    QStringList offered;
    const auto dialog = onModal<frmSearch>([&](frmSearch *picker) {
        auto *list = picker->findChild<QListWidget *>(QStringLiteral("lstFound"));
        auto *addButton = picker->findChild<QPushButton *>(QStringLiteral("cmdAdd"));
        offered = itemTexts(list);
        // Nothing marked, nothing to add.
        const bool disabledWhenEmpty = !addButton->isEnabled();
        for (const QString &name : { QStringLiteral("NUEVO3"), QStringLiteral("NUEVO2") })
            list->findItems(name, Qt::MatchExactly).first()->setCheckState(Qt::Checked);
        if (disabledWhenEmpty && addButton->isEnabled())
            QTest::mouseClick(addButton, Qt::LeftButton);
    });
    QTest::mouseClick(button("cmdSearch"), Qt::LeftButton);

    QCOMPARE(netCalls(m_programPath), QList<QStringList> { arguments });
    QCOMPARE(offered, (QStringList { QStringLiteral("NUEVO2"), QStringLiteral("nuevo1"), QStringLiteral("NUEVO3") }));
    QCOMPARE(readEntry(section, QStringLiteral("Total")), QStringLiteral("4"));
    QCOMPARE(readEntry(section, QStringLiteral("3")), QStringLiteral("NUEVO2"));
    QCOMPARE(readEntry(section, QStringLiteral("4")), QStringLiteral("NUEVO3"));
    QCOMPARE(rows(),
        (QStringList { QStringLiteral(" Oficina2 "), QStringLiteral("NUEVO2"), QStringLiteral("NUEVO3"),
            QStringLiteral("Oficina1") }));
    QVERIFY(!m_rt->m_hourglass);
    QCOMPARE(m_rt->m_hourglassChanges, 2);
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmEquipos::searchOutcomesThatAddNothing_data()
{
    QTest::addColumn<QByteArray>("answer"); // net.vista; empty: no net beside the program
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
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
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    QFETCH(int, icon);
    storeBook({ QStringLiteral("pc1") }, {});
    std::function<void()> restore = [] {};
    auto atEnd = qScopeGuard([&] { restore(); });
    if (answer.isEmpty()) {
        // One on the search path and one in the data folder, neither to be taken instead.
        const QString onPath = m_fixture.base() + QStringLiteral("/enRuta");
        QVERIFY(prepareProgram(onPath, QStringLiteral("net_vista.sh")));
        m_rt->m_dataPath = m_fixture.base() + QStringLiteral("/enDatos");
        QVERIFY(prepareProgram(m_rt->m_dataPath, QStringLiteral("net_vista.sh")));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", onPath.toLocal8Bit() + ':' + path);
        restore = [path] { qputenv("PATH", path); };
        text = text.arg(m_programPath.chopped(1));
    } else {
        QVERIFY(prepareProgram(m_programPath, QStringLiteral("net_vista.sh")));
        QVERIFY(writeFile(m_programPath + QStringLiteral("net.vista"), answer));
    }
    const QByteArray before = readFile(m_module->addressBookPath());
    m_rt->m_appPath = m_programPath.chopped(1);
    openEditor();
    // Nothing is to be offered: a choice that shows up anyway is closed and noted.
    bool offeredAnyway = false;
    const auto guard = onModal<frmSearch>([&](frmSearch *picker) {
        offeredAnyway = true;
        picker->reject();
    });
    QTest::mouseClick(button("cmdSearch"), Qt::LeftButton);
    QVERIFY(!offeredAnyway);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.first().text, text);
    QCOMPARE(int(m_rt->m_boxes.first().icon), icon);
    QCOMPARE(m_rt->m_boxes.first().title, frmSearch::kTitle);
    QCOMPARE(readFile(m_module->addressBookPath()), before);
    QCOMPARE(netCalls(m_fixture.base() + QStringLiteral("/enRuta")).size(), 0);
    QCOMPARE(netCalls(m_fixture.base() + QStringLiteral("/enDatos")).size(), 0);
    QVERIFY(!m_rt->m_hourglass);
}

// A net that never answers is given up at its bound (twice Espera and two seconds), and
// stopped; meanwhile the event loop runs, so the windows keep painting.
void tst_frmEquipos::searchThatHangsEndsAtItsBoundWithoutFreezing()
{
    QVERIFY(prepareProgram(m_programPath, QStringLiteral("net_vista.sh")));
    QVERIFY(writeFile(m_programPath + QStringLiteral("net.ini"), "[Opciones]\r\nEspera=1\r\n"));
    m_rt->m_appPath = m_programPath;
    openEditor();
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(100);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button("cmdSearch"), Qt::LeftButton);
    qInfo("gave up after %lld ms, %d ticks of a 100 ms timer meanwhile", clock.elapsed(), ticks);

    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.first().text, QStringLiteral("La búsqueda en la red no ha terminado en 4 segundos."));
    QVERIFY(ticks >= 20);
    const QByteArray pid = readFile(m_programPath + QStringLiteral("net.pid")).trimmed();
    QVERIFY(!pid.isEmpty() && pid != "<missing>");
    QVERIFY(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));
    QVERIFY(!m_rt->m_hourglass);
    QVERIFY(m_editor->isVisible());
}

QTEST_MAIN(tst_frmEquipos)
#include "tst_frmEquipos.moc"
