// SPDX-License-Identifier: MIT
// The window as the operator first sees it, and the ends that need no
// instrument.
#include <QApplication>
#include <QTest>
#include <QTextLayout>

#include "tests/program/program_fixture.h"
#include "window/tab_list_delegate.h"

namespace tq::testing {
namespace {

const std::vector<std::string> kInstructions = {
    "Select the I/O type or address.",
    "Then click on \"Get Readings\" to trigger instrument.",
    "Will take some time.",
};

using WindowTest = ProgramTest;

TEST_F(WindowTest, LoadsShownWithItsCaptionSizeAndThreeInstructionLines) {
    openWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Corvalen Control Example");
    EXPECT_EQ(window->size(), QSize(338, 307));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the client area is fixed";
    EXPECT_EQ(lines(), kInstructions);
    EXPECT_TRUE(script->calls.empty()) << "loading the window talks to no instrument";
    EXPECT_FALSE(endStatus.has_value());
}

// Notes how many lines the list held whenever the window itself was painted.
class PaintWatch : public QObject {
public:
    std::vector<int> linesAtPaint;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->objectName() == "CorvalenExmpl") {
            const auto* listBox = watched->findChild<QListWidget*>(QStringLiteral("List1"));
            linesAtPaint.push_back(listBox != nullptr ? listBox->count() : -1);
        }
        return false;
    }
};

TEST_F(WindowTest, IsOnTheScreenAndPaintedBeforeTheLinesAreAdded) {
    PaintWatch watch;
    QApplication::instance()->installEventFilter(&watch);
    openWindow();
    QApplication::instance()->removeEventFilter(&watch);
    ASSERT_FALSE(watch.linesAtPaint.empty()) << "loading paints the window at once";
    EXPECT_EQ(watch.linesAtPaint.front(), 0);
}

TEST_F(WindowTest, ControlsStandWhereTheDesignPutsThem) {
    openWindow();
    struct Expected {
        const char* name;
        const char* caption;
        QRect geometry;
    };
    // Twips divided by 15, rounded: 1748 -> 117, 1575 -> 105, 495 -> 33.
    const Expected buttons[] = {
        {"SelectIO", "Select I/O", QRect(117, 8, 105, 33)},
        {"GetReadings", "Run", QRect(117, 56, 105, 33)},
        {"Exit", "Exit", QRect(117, 256, 105, 33)},
    };
    for (const Expected& expected : buttons) {
        QPushButton* b = button(expected.name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text().toStdString(), expected.caption);
        EXPECT_EQ(b->geometry(), expected.geometry) << expected.name;
        EXPECT_FALSE(b->autoDefault()) << expected.name;
        EXPECT_FALSE(b->isDefault()) << expected.name;
        EXPECT_TRUE(b->isEnabled()) << expected.name;
        EXPECT_TRUE(b->toolTip().isEmpty()) << expected.name;
    }
    EXPECT_EQ(list()->geometry(), QRect(25, 96, 289, 147));
    EXPECT_EQ(list()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(list()->isSortingEnabled());
    // Nothing else is on the window (the list's own scroll bars and viewport
    // are its children, not the window's).
    EXPECT_EQ(window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 4);
}

// Where each non-empty TAB-separated field of a list line starts, laid out
// as the list draws it.
std::vector<qreal> fieldStarts(const QString& line, const QFont& font) {
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(TabListDelegate::tabStopDistance(QFontMetrics(font)));
    QTextLayout layout(line, font);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine textLine = layout.createLine();
    textLine.setLineWidth(100000);
    layout.endLayout();
    std::vector<qreal> starts;
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] != '\t' && (i == 0 || line[i - 1] == '\t')) {
            starts.push_back(textLine.cursorToX(i));
        }
    }
    return starts;
}

TEST_F(WindowTest, ListingHeaderLinesUpWithTheReadingRows) {
    openWindow();
    const QFont font = list()->font();
    const auto header = fieldStarts(QStringLiteral("Rdng#\tChannel\tValue\t\tTime"), font);
    for (const char* row : {"1\t101\t+2.21974610E+01\t+000000000.256",
                            "40\t120\t-8.31234567E+00\t+000000015.440"}) {
        const auto starts = fieldStarts(QString::fromLatin1(row), font);
        ASSERT_EQ(starts.size(), 4U);
        ASSERT_EQ(header.size(), 4U);
        for (std::size_t column = 1; column < 4; ++column) {
            EXPECT_DOUBLE_EQ(starts[column], header[column]) << row << " column " << column;
        }
    }
}

TEST_F(WindowTest, TabOrderRunsSelectRunExitListAndStartsOnSelect) {
    openWindow();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), button("SelectIO"));
    const std::vector<QWidget*> order = {button("GetReadings"), button("Exit"), list(),
                                         button("SelectIO")};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

TEST_F(WindowTest, ControlKeepsItsDesignTimeAddress) {
    // The fake control starts with no address; the window gives it the
    // design-time one, which the first "Run" opens.
    openWindow();
    click("GetReadings");
    ASSERT_FALSE(script->calls.empty());
    EXPECT_EQ(script->calls.front().text, "OpenIO GPIB0::9::INSTR");
}

TEST_F(WindowTest, ExitEndsWithStatusZeroWithoutClosingTheConnection) {
    openWindow();
    click("Exit");
    EXPECT_EQ(endStatus, 0);
    EXPECT_TRUE(script->calls.empty());
}

TEST_F(WindowTest, ExitAfterARunStillDoesNotCloseTheConnection) {
    openWindow();
    click("GetReadings");
    ASSERT_FALSE(endStatus.has_value());
    const std::size_t before = script->calls.size();
    click("Exit");
    EXPECT_EQ(endStatus, 0);
    EXPECT_TRUE(callsFrom(before).empty());
}

TEST_F(WindowTest, ClosingTheWindowRunsNoProgramCode) {
    openWindow();
    click("GetReadings");
    const std::size_t before = script->calls.size();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(callsFrom(before).empty()) << "no CloseIO on the frame's close";
    EXPECT_FALSE(endStatus.has_value());
}

TEST_F(WindowTest, ClickingAListLineChangesNothing) {
    openWindow();
    const QRect firstLine = list()->visualItemRect(list()->item(0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, firstLine.center());
    EXPECT_EQ(lines(), kInstructions);
    EXPECT_TRUE(script->calls.empty());
}

}  // namespace
}  // namespace tq::testing
