// The reference host's GUI pieces that device controls use: exposure texts, the laser-line
// control, the picker button, the tab container with the layout manager's operations and the
// dialog base. The style sheets and the GUI zoom are asserted through the pad (PadPictures,
// PadWrapper).
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cctype>
#include <string>

#include "zt/zt_gui.h"
#include "zt/zt_guielement.h"
#include "zt/zt_layout.h"
#include "zt/zt_qtwidgets.h"
#include "zthost/camera_control.h"
#include "zthost/gui.h"
#include "zthost/layout.h"
#include "zthost/zthost.h"

namespace {

// A case's text as letters, digits and underscores, for the test's name.
std::string Plain(const char* text) {
    std::string plain;
    for (const char* c = text; *c; ++c) {
        plain += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return plain.empty() ? "empty" : plain;
}

bool WaitForMenu(QMenu* menu) {
    for (int i = 0; menu && i < 200 && !menu->isVisible(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return menu && menu->isVisible();
}

struct ReadCase {
    const char* text;
    double minMs;
    bool ok;
    double ms;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << Plain(c.text); }
};

class HostGuiExposureRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(HostGuiExposureRead, ATypedTimeReadsInItsUnit) {
    const ReadCase& c = GetParam();
    bool ok = !c.ok;
    const double ms = ZT_TextToExposure(QString::fromUtf8(c.text), -1.0, c.minMs, 8.28e7, &ok);
    EXPECT_EQ(ok, c.ok) << c.text;
    EXPECT_DOUBLE_EQ(ms, c.ok ? c.ms : -1.0) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, HostGuiExposureRead,
    ::testing::Values(ReadCase{"1 ms", 1.0, true, 1.0}, ReadCase{"10ms", 1.0, true, 10.0},
                      ReadCase{"250", 1.0, true, 250.0}, ReadCase{" 3 S ", 1.0, true, 3000.0},
                      ReadCase{"1.5 s", 1.0, true, 1500.0}, ReadCase{"1,5 s", 1.0, true, 1500.0},
                      ReadCase{"0.5 min", 1.0, true, 30000.0},
                      ReadCase{"250 \xc2\xb5s", 0.0, true, 0.25},
                      ReadCase{"250 us", 0.0, true, 0.25},
                      ReadCase{"500 us", 1.0, false, 0.0},    // below the lower bound
                      ReadCase{"1381 min", 1.0, false, 0.0},  // above the upper bound
                      ReadCase{"2 h", 1.0, false, 0.0}, ReadCase{"", 1.0, false, 0.0},
                      ReadCase{"abc", 1.0, false, 0.0}, ReadCase{"-5 ms", 0.0, false, 0.0},
                      ReadCase{"Toggle", 1.0, false, 0.0}, ReadCase{"1 s 2", 1.0, false, 0.0}));

struct WriteCase {
    double ms;
    double unitMs;
    const char* text;
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << Plain(c.text); }
};

class HostGuiExposureWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(HostGuiExposureWrite, ATimeIsWrittenInItsLargestExactUnit) {
    const WriteCase& c = GetParam();
    EXPECT_EQ(ZT_ExposureToText(c.ms, c.unitMs), QString::fromUtf8(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Units, HostGuiExposureWrite,
    ::testing::Values(WriteCase{1.0, -1.0, "1 ms"}, WriteCase{250.0, -1.0, "250 ms"},
                      WriteCase{1000.0, -1.0, "1 s"}, WriteCase{1500.0, -1.0, "1.5 s"},
                      WriteCase{100000.0, -1.0, "100 s"}, WriteCase{60000.0, -1.0, "1 min"},
                      WriteCase{90000.0, -1.0, "1.5 min"}, WriteCase{8.28e7, -1.0, "1380 min"},
                      WriteCase{0.5, -1.0, "500 \xc2\xb5s"}, WriteCase{250.0, 1000.0, "0.25 s"},
                      WriteCase{2.0, 0.001, "2000 \xc2\xb5s"}));

// ---- Widgets ----------------------------------------------------------------------------------

// The user's changes reaching the device, and the single light's style, are asserted through
// the pad in the DevicePad and PadWrapper suites.
TEST(HostGuiLaserLine, SetValuesAreNotReportedAndTheLabelNamesTheLine) {
    CZtQLaserLine line;
    QSignalSpy power(&line, &CZtQLaserLine::powerChanged);
    QSignalSpy enabled(&line, &CZtQLaserLine::lineEnabled);
    line.SetDecimals(1);
    line.SetPower(12.34);
    line.SetLineEnabled(true);
    EXPECT_DOUBLE_EQ(line.GetPower(), 12.3);
    EXPECT_EQ(power.count() + enabled.count(), 0);
    line.SetLineNumber(3);
    line.SetWavelength(561);
    EXPECT_EQ(line.findChild<QLabel*>()->text(), QStringLiteral("3: 561"));
}

TEST(HostGuiPicker, TheMainPartTogglesAndTheArrowOpensTheItems) {
    CZtPickerTogglePushButton picker;
    picker.resize(120, 24);
    picker.AddItem(QStringLiteral("16 levels"), 0);
    QAction* second = picker.AddItem(QStringLiteral("64 levels"), 1);
    EXPECT_EQ(picker.text(), QStringLiteral("16 levels"));
    EXPECT_FALSE(picker.isCheckable());
    QSignalSpy checked(&picker, &CZtPickerTogglePushButton::checkedChanged);
    QSignalSpy selected(&picker, &CZtPickerTogglePushButton::selectionChanged);

    QTest::mouseClick(&picker, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_TRUE(picker.IsPickerChecked());
    EXPECT_FALSE(picker.isChecked());
    ASSERT_EQ(checked.count(), 1);
    QTest::mouseClick(&picker, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_FALSE(picker.IsPickerChecked());

    QTest::mouseClick(&picker, Qt::LeftButton, {}, QPoint(120 - picker.ArrowWidth() / 2, 12));
    QMenu* menu = picker.findChild<QMenu*>();
    ASSERT_TRUE(WaitForMenu(menu));
    second->trigger();
    EXPECT_EQ(picker.GetCurrentIndex(), 1);
    EXPECT_EQ(picker.text(), QStringLiteral("64 levels"));
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(checked.count(), 2) << "opening the items does not toggle";
    EXPECT_FALSE(picker.SetCurrentIndex(5));
}

// ---- Elements, tab container, layout manager
// -------------------------------------------------

class CaptionedElement : public CZtQtGUIControlElement {
public:
    CZtStringW GetCaption() const override { return L"Caption of " + GetElementName().Str(); }
};

class HostGuiElements : public ::testing::Test {
protected:
    void TearDown() override { zthost::ResetForTests(); }
};

// Taking the pad out and showing it back where it stood, as active element with updates resumed,
// is asserted through the plug-in in the PadWrapper suite; these are the refusals and the rest.
TEST_F(HostGuiElements, TheContainerTitlesElementsAndRefusesALockedOrLooseOne) {
    CaptionedElement first, second;
    first.setupUi();
    second.setupUi();
    CZtTabContainer* tabs = zthost::AcquisitionControls();
    EXPECT_EQ(first.CreateUI(L"First", tabs), first.GetNativeWindow());
    second.CreateUI(L"Second", tabs);
    EXPECT_EQ(tabs->GetTabTitle(&second), QStringLiteral("Caption of Second"));
    EXPECT_EQ(first.FindContainer("CZtTabContainer"), tabs);

    IZtLayoutManager* layout = ZT_GetLayoutManager();
    zthost::SetLayoutLocked(true);
    EXPECT_EQ(layout->SetActiveElement(&first), -8);
    zthost::SetLayoutLocked(false);
    CaptionedElement loose;
    loose.setupUi();
    loose.CreateUI(L"Loose", nullptr);
    EXPECT_EQ(layout->ShowElementAsSaved(&loose), -4);

    first.DestroyUI();
    EXPECT_EQ(tabs->count(), 1);
    EXPECT_EQ(first.GetNativeWindow(), nullptr);
}

// ---- Dialogs ------------------------------------------------------------------------------------

TEST_F(HostGuiElements, DialogsShowOverTheHostWindowAndTellHowTheyEnded) {
    QWidget host;
    host.resize(400, 300);
    CZtQ9DialogForQt dialog;
    QSignalSpy closed(&dialog, &CZtQ9DialogForQt::closed);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    EXPECT_EQ(dialog.ShowDialog(nullptr, true), -4);
    EXPECT_EQ(dialog.ShowDialog(&host, true), 0);
    EXPECT_EQ(dialog.parentWidget(), &host);
    EXPECT_TRUE(dialog.close());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(rejected.count(), 0);

    bool guiDuring = true;
    QTimer::singleShot(0, &dialog, [&] {
        guiDuring = zthost::GuiEnabled();
        dialog.accept();
    });
    EXPECT_EQ(dialog.DoModal(&host, true, 0), QDialog::Accepted);
    EXPECT_FALSE(guiDuring);
    EXPECT_TRUE(zthost::GuiEnabled());
    EXPECT_EQ(dialog.DoModal(nullptr, true, 0), -4);
}

}  // namespace
