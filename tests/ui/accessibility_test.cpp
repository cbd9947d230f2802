// The window as assistive technology and the keyboard meet it, connected to the simulator: every
// value field is named by its caption, the grids give their cells to a screen reader, and the
// controls, pages and grids can be reached with the keyboard alone.
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <gmock/gmock.h>

namespace {

using kt::test::MainFormTest;
using kt::test::SimProcess;

class AccessibilityTest : public MainFormTest {
protected:
    void connectTo(const SimProcess& sim) {
        window->selectLink(*kt::parseLink(sim.tcpLink()));
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
    }
    // Every caption of `page` with its value field (its buddy), as the layout tables placed them.
    std::vector<std::pair<QLabel*, QWidget*>> captionedValues(const char* page) {
        std::vector<std::pair<QLabel*, QWidget*>> pairs;
        for (QLabel* caption : child<QWidget>(page)->findChildren<QLabel*>())
            if (caption->buddy()) pairs.emplace_back(caption, caption->buddy());
        return pairs;
    }
    static QString accessibleName(QWidget* w) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        return iface ? iface->text(QAccessible::Name) : QString();
    }
    QWidget* focused() { return QApplication::focusWidget(); }
};

TEST_F(AccessibilityTest, EveryValueFieldIsNamedByItsCaption) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "300", "--model-type", "2", "--set", "199=1"});
    kt::TMainForm& w = start();
    w.show();
    // Offline the captions are the default ones; connected, the unit's own (AU, register file).
    for (bool online : {false, true}) {
        SCOPED_TRACE(online ? "online" : "offline");
        if (online) connectTo(sim);
        for (const char* page : {"Tab_Summary", "TabSheet2"}) {
            const auto pairs = captionedValues(page);
            ASSERT_FALSE(pairs.empty()) << page;
            for (const auto& [caption, value] : pairs) {
                SCOPED_TRACE(value->objectName().toStdString());
                if (caption->text().isEmpty()) continue; // a field without a caption of its own
                EXPECT_EQ(accessibleName(value), caption->text());
                EXPECT_TRUE(value->focusPolicy() & Qt::TabFocus);
            }
        }
    }
    // The unit's own captions reached the screen reader, not only the screen.
    EXPECT_EQ(accessibleName(child<QWidget>("main_config4_E")), "K1 Mode");
    EXPECT_EQ(accessibleName(child<QWidget>("main_gftime_E")), text("main_gftime_L"));
}

TEST_F(AccessibilityTest, GridsGiveTheirCellsToAScreenReader) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "300", "--set", "199=1"});
    kt::TMainForm& w = start();
    w.show();
    connectTo(sim);
    child<QTabWidget>("PageControl1")->setCurrentWidget(child<QWidget>("TabSheet4"));
    for (const char* name : {"Status_Grid", "SetpointsGrid"}) {
        SCOPED_TRACE(name);
        auto* grid = child<QTableView>(name);
        QAbstractItemModel* model = grid->model();
        ASSERT_TRUE(waitFor([&] { return model->rowCount() > 0; }));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(grid);
        ASSERT_NE(iface, nullptr);
        EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty());
        QAccessibleTableInterface* table = iface->tableInterface();
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->rowCount(), model->rowCount());
        ASSERT_GT(table->columnCount(), 0);
        // Each cell a screen reader is given reads as the grid shows it.
        int nonEmpty = 0;
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c) {
                QAccessibleInterface* cell = table->cellAt(r, c);
                ASSERT_NE(cell, nullptr) << r << "," << c;
                QAccessibleTableCellInterface* ci = cell->tableCellInterface();
                ASSERT_NE(ci, nullptr);
                const int column = grid->horizontalHeader()->logicalIndex(ci->columnIndex());
                const QString shown = model->index(ci->rowIndex(), column).data().toString();
                EXPECT_EQ(cell->text(QAccessible::Name), shown) << r << "," << c;
                if (!shown.isEmpty()) ++nonEmpty;
            }
        EXPECT_GT(nonEmpty, 0) << "the grid read as empty";
    }
}

TEST_F(AccessibilityTest, TheWindowCanBeWorkedByKeyboardAlone) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "300", "--set", "199=1"});
    kt::TMainForm& w = start();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    // The Communication page in reading order, for either link type.
    auto* link = child<QComboBox>("network_CB");
    for (int type : {0, 1}) {
        SCOPED_TRACE(type);
        link->setCurrentIndex(type);
        link->setFocus();
        const char* order[] = {"network_CB", type == 0 ? "comport_CB" : "ip_E", "Comm_Button"};
        for (const char* name : order) {
            ASSERT_NE(focused(), nullptr);
            EXPECT_EQ(focused()->objectName(), name);
            QTest::keyClick(focused(), Qt::Key_Tab);
        }
    }

    // Type the address, Enable with the keyboard.
    link->setCurrentIndex(1);
    auto* ip = child<QLineEdit>("ip_E");
    ip->setFocus();
    ip->selectAll();
    QTest::keyClicks(ip, QString::fromStdString(sim.tcpEndpoint()));
    QTest::keyClick(ip, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));

    // Pages change with Ctrl+Tab; Tab reaches the grids of Detailed Status.
    auto* pages = child<QTabWidget>("PageControl1");
    QWidget* target = child<QWidget>("TabSheet4");
    for (int i = 0; i < pages->count() && pages->currentWidget() != target; ++i)
        QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(pages->currentWidget(), target);
    bool statusReached = false, setpointsReached = false;
    for (int i = 0; i < 20 && !(statusReached && setpointsReached); ++i) {
        QTest::keyClick(focused() ? focused() : &w, Qt::Key_Tab);
        statusReached = statusReached || focused() == child<QWidget>("Status_Grid");
        setpointsReached = setpointsReached || focused() == child<QWidget>("SetpointsGrid");
    }
    EXPECT_TRUE(statusReached);
    EXPECT_TRUE(setpointsReached);
    // In a grid the arrow keys move between rows.
    auto* grid = child<QTableView>("Status_Grid");
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(0, 1));
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_TRUE(messages.empty());
}

} // namespace
