// The message dialog as a user meets it (driven by the dialog robot), the
// localised texts, and the status window.

#include <windows.h>

#include <cstdlib>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "automation/NibWordImpl.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "services/Gb2Big5.h"
#include "services/Locale.h"
#include "ui/FSts.h"
#include "ui/GlobalSign.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

class Dialogs : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    ComPtr<INibWord> object;
    ASSERT_EQ(TNibWord::Create(IID_INibWord, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
    ASSERT_EQ(object.As(&gui), S_OK);
  }
  void TearDown() override {
    gui.Reset();
    ComApartment::TearDown();
  }
  LONG Show(const char* utf8Text, LONG type, const wchar_t* buttons) {
    BStr text(Utf8ToWide(utf8Text)), set(buttons);
    return gui->MyMessageDlg(text.Get(), type, set.Get(), 0);
  }
  ComPtr<ICommGUI> gui;
};

TEST_F(Dialogs, ButtonSetsAndResults) {
  {
    DialogRobot robot(L"&No");
    EXPECT_EQ(Show("\r\n您对文档进行了修改,是否要保存?", 3, L"0,1"), 7);
    const SeenDialog& seen = robot.Seen();
    EXPECT_EQ(seen.buttons, (std::vector<std::wstring>{L"&Yes", L"&No"}));
    EXPECT_EQ(seen.title, L"Confirm");
    EXPECT_EQ(seen.text, Utf8ToWide("\r\n您对文档进行了修改,是否要保存?")) << "Chinese text shown as given";
    EXPECT_TRUE(seen.hasIcon);
  }
  {
    DialogRobot robot(L"&Yes");
    EXPECT_EQ(Show("yes?", 3, L"0,1"), 6);
  }
  {
    DialogRobot robot(L"Cancel");
    EXPECT_EQ(Show("\r\n文件上传未成功,请稍后再试!", 0, L"2,x,3"), 2);
    EXPECT_EQ(robot.Seen().buttons, (std::vector<std::wstring>{L"OK", L"Cancel"}));
    EXPECT_EQ(robot.Seen().title, L"Warning");
  }
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Show("258 means OK", 2, L"258"), 1);
    const SeenDialog& seen = robot.Seen();
    EXPECT_EQ(seen.buttons, (std::vector<std::wstring>{L"OK"}));
    EXPECT_EQ(seen.title, L"Information");
    // Centred on the 1024 x 768 screen.
    int centreX = (seen.bounds.left + seen.bounds.right) / 2, centreY = (seen.bounds.top + seen.bounds.bottom) / 2;
    EXPECT_NEAR(centreX, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
    EXPECT_NEAR(centreY, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
  }
  {
    DialogRobot robot(L"not there");  // the robot closes the dialog instead
    EXPECT_EQ(Show("error", 1, L"2"), 2) << "closing answers Cancel";
    EXPECT_EQ(robot.Seen().title, L"Error");
    EXPECT_FALSE(robot.Pressed());
  }
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Show("custom", 4, L"2"), 1);
    EXPECT_FALSE(robot.Seen().hasIcon) << "the custom type has no icon";
  }
}

TEST_F(Dialogs, ComesBackToTheFrontAfterTheTimer) {
  // The robot puts another window in front as soon as it sees the dialog;
  // the timer's tick, about 200 ms after arming (the first arming may wait
  // out the thread's initial 1 s sleep), lifts the dialog again. A tick that
  // happens to come in the few milliseconds before the robot's move has
  // nothing left to do, so of three dialogs at least one must show the lift.
  int lifted = 0;
  for (int round = 0; round < 3; ++round) {
    DialogRobot robot(L"OK", /*stealFocus=*/true, /*watchMs=*/2000);
    EXPECT_EQ(Show("front", 2, L"2"), 1);
    const SeenDialog& seen = robot.Seen();
    if (seen.foregroundAt == 0) continue;
    ++lifted;
    EXPECT_LE(seen.foregroundAt - seen.shownAt, 1500u) << "round " << round;
  }
  EXPECT_GE(lifted, 1) << "the dialog never came back to the front";
}

TEST(Locale, UiTextFollowsTheSystemLocale) {
  // ctest runs this under several LC_ALL values and says which locale to expect.
  const char* expected = std::getenv("NIB_EXPECTED_LCID");
  ASSERT_NE(expected, nullptr);
  LCID lcid = static_cast<LCID>(std::strtoul(expected, nullptr, 0));
  ASSERT_EQ(SystemDefaultLocale(), lcid) << "the test runs under the locale it was meant for";
  const std::string caption = Gb("保存并关闭");
  bool traditional = lcid == 1028 || lcid == 3076;
  EXPECT_EQ(IsTraditionalLocale(), traditional);
  EXPECT_EQ(UiText(caption), traditional ? GbToBig5(caption) : caption);
  EXPECT_EQ(UiText(""), "");
  if (traditional) {
    EXPECT_EQ(GetACP(), 950u);
    EXPECT_EQ(AnsiToWide(UiText(caption)), Utf8ToWide("保存並關閉")) << "readable as Big5 on this system";
  }

  TFrmSts status;
  wchar_t caption_[64], label[128];
  GetWindowTextW(status.Window(), caption_, 64);
  GetWindowTextW(status.Label(), label, 128);
  EXPECT_EQ(std::wstring(label), Utf8ToWide(traditional ? "文檔正在進行轉換,\r\n請稍候..." : "文档正在进行转换,\r\n请稍候..."));
  EXPECT_EQ(std::wstring(caption_), Utf8ToWide(traditional ? "請稍候..." : "请稍候..."));
}

TEST(StatusWindow, RefusesToCloseAndKeepsItsLook) {
  {
    TFrmSts status;
    status.Show();
    EXPECT_TRUE(IsWindowVisible(status.Window()));
    RECT client;
    GetClientRect(status.Window(), &client);
    EXPECT_EQ(client.right, 242);
    EXPECT_EQ(client.bottom, 123);
    EXPECT_TRUE(GetWindowLongW(status.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    SendMessageW(status.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(status.Window(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(status.Window())) << "the system-menu close does nothing";
    RECT label;
    GetWindowRect(status.Label(), &label);
    MapWindowPoints(nullptr, status.Window(), reinterpret_cast<POINT*>(&label), 2);
    EXPECT_EQ(label.left, 40);
    EXPECT_EQ(label.top, 37);
  }
  EXPECT_EQ(FindWindowW(kStatusWindowClass, nullptr), nullptr) << "freeing removes it";

  std::unique_ptr<TGlobalSign> htMode;
  EXPECT_FALSE(HtModeIsSet(htMode)) << "no flag object reads false";
  htMode = std::make_unique<TGlobalSign>(true);
  EXPECT_TRUE(HtModeIsSet(htMode));
  htMode->Set(false);
  EXPECT_FALSE(HtModeIsSet(htMode));
  EXPECT_STREQ(kSupportedApps[0], "WinWord.exe");
}

}  // namespace
}  // namespace nib::test
