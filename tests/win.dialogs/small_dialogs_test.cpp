#include <gmock/gmock.h>

#include <string>

#include "dialog_driver.h"
#include "resource.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "version.h"
#include "win.dialogs/small_dialogs.h"

namespace {

using ::testing::HasSubstr;

HINSTANCE instance() { return ::GetModuleHandleA(nullptr); }

TEST(WaitDialog, HidingADialogThatIsNotShownOnlyTraces) {
    kit::smartptr<WaitDialog> wait(new WaitDialog(instance(), IDD_END_WAIT));
    testsupport::EventsFile events;
    wait->hide();
    EXPECT_EQ(wait->getHandle(), nullptr);
    EXPECT_THAT(events.added(), HasSubstr("Try to hide invalid dialog!"));
}

TEST(WaitDialog, IsShownWithoutBlockingAndCanBeShownAgainAfterHiding) {
    kit::smartptr<WaitDialog> wait(new WaitDialog(instance(), IDD_END_WAIT));
    EXPECT_EQ(wait->ShowDialog(), 0);  // returns at once: modeless
    HWND first = wait->getHandle();
    ASSERT_TRUE(::IsWindow(first));
    EXPECT_TRUE(::IsWindowVisible(first));
    EXPECT_EQ(staticTextContaining(first, "Please wait"), "Please wait while application ends recording...");
    testsupport::pumpFor(100);

    testsupport::EventsFile events;
    wait->hide();
    EXPECT_FALSE(::IsWindow(first));
    EXPECT_THAT(events.added(), HasSubstr("hidden"));

    wait->ShowDialog();
    HWND second = wait->getHandle();
    EXPECT_TRUE(::IsWindowVisible(second));
    wait->ShowDialog();  // a second show keeps the one window
    EXPECT_EQ(wait->getHandle(), second);
    wait.reset();  // the object takes its window with it
    EXPECT_FALSE(::IsWindow(second));
}

TEST(WaitDialog, TheCalibrationBoxSaysWhatIsGoingOn) {
    kit::smartptr<WaitDialog> wait(new WaitDialog(instance(), IDD_CALIBRATION_WAIT));
    wait->ShowDialog();
    EXPECT_EQ(staticTextContaining(wait->getHandle(), "calibrates"),
              "Please wait while the application calibrates recording levels.");
    char caption[32] = {"x"};
    ::GetWindowTextA(wait->getHandle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "");
    wait->hide();
}

TEST(StartUpDialog, TheBoxStartsTickedAndUntickingItIsKept) {
    kit::smartptr<StartUpDialog> welcome(new StartUpDialog(instance()));
    EXPECT_TRUE(welcome->showOnStartup());
    ModalRun run(*welcome, "Welcome to Sonotape");
    ASSERT_TRUE(run.window());
    EXPECT_TRUE(run.checked(IDC_SHOW_ON_STARTUP));
    EXPECT_EQ(staticTextContaining(run.window(), "right click"), "To change settings right click the white area.");
    run.click(IDC_SHOW_ON_STARTUP);
    EXPECT_FALSE(welcome->showOnStartup());
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_FALSE(welcome->showOnStartup());
}

TEST(StartUpDialog, ClosingWithoutTouchingTheBoxKeepsShowingItAtStart) {
    kit::smartptr<StartUpDialog> welcome(new StartUpDialog(instance()));
    ModalRun run(*welcome, "Welcome to Sonotape");
    ASSERT_TRUE(run.window());
    testsupport::pumpFor(300);
    testsupport::screenshotWindow(run.window(), "welcome_dialog");
    ::SendMessageA(run.window(), WM_CLOSE, 0, 0);  // the close box
    EXPECT_EQ(run.result(), IDCANCEL);
    EXPECT_TRUE(welcome->showOnStartup());
}

TEST(VarTextDialog, ShowsItsTextAndTakesANewOneWhileShown) {
    kit::smartptr<VarTextDialog> message(new VarTextDialog(instance()));
    EXPECT_EQ(message->getText(), "<no text>");
    message->setText("Sonotape is still recording. Click [OK] to hide this window.");
    ModalRun run(*message, "Sonotape");
    ASSERT_TRUE(run.window());
    EXPECT_EQ(run.text(IDC_MESSAGE_TEXT), "Sonotape is still recording. Click [OK] to hide this window.");
    message->setText("Sonotape have not enought space to record anymore.");
    EXPECT_EQ(run.text(IDC_MESSAGE_TEXT), "Sonotape have not enought space to record anymore.");
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
}

TEST(AboutDialog, OnlyOkClosesIt) {
    kit::smartptr<AboutDialog> about(new AboutDialog(instance(), IDD_ABOUT, nullptr));
    ModalRun run(*about, "About Sonotape");
    ASSERT_TRUE(run.window());
    EXPECT_EQ(staticTextContaining(run.window(), "Version"), std::string("Version: ") + SONOTAPE_VERSION)
        << "the version of the build";
    ::SendMessageA(run.window(), WM_COMMAND, IDCANCEL, 0);  // Escape
    testsupport::pumpFor(100);
    EXPECT_FALSE(run.ended());
    EXPECT_TRUE(::IsWindowVisible(run.window()));
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
}

TEST(WaitDialog, Screenshots) {
    kit::smartptr<WaitDialog> wait(new WaitDialog(instance(), IDD_END_WAIT));
    wait->ShowDialog();
    testsupport::pumpFor(300);
    testsupport::screenshotWindow(wait->getHandle(), "end_wait_dialog");
    wait->hide();
    kit::smartptr<AboutDialog> about(new AboutDialog(instance(), IDD_ABOUT));
    ModalRun run(*about, "About Sonotape");
    ASSERT_TRUE(run.window());
    testsupport::pumpFor(300);
    testsupport::screenshotWindow(run.window(), "about_dialog");
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
}

}  // namespace
