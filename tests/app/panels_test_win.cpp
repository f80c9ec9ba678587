// The main window's panels driven like a user would: synthetic mouse and keys through Dear ImGui
// against a real App with a real Direct3D 11 device, phones announced by a DNS-SD service of our
// own. What is checked is what Dear ImGui drew: item rectangles, vertex colours, glyphs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "i18n/localizer.h"
#include "panel_harness_win.h"
#include "ring/frame_ring_format.h"
#include "support/fake_transport.h"
#include "support/no_h264_decoder_win.h"
#include "support/stream_bytes.h"

namespace {

constexpr const char* kMain = "##main";
constexpr const char* kPopup = "##Combo_00";  // Dear ImGui's window of the one open combo
constexpr const char* kHelp = "###help";

std::string tr(const char* key) { return i18n::Localizer::instance().translate(key); }

// Whether the drawn glyphs hold `text` (whose spaces draw nothing).
bool shows(const std::string& drawn, const std::string& text) {
  return drawn.find(PanelHarness::withoutSpaces(text)) != std::string::npos;
}

// The state pill as the window must show each state: text key, dot and halo.
struct PillLook {
  int value;
  const char* key;
  ImU32 dot, halo;
};
const PillLook kIdle = {0, "connect.status.idle", IM_COL32(128, 128, 132, 255), IM_COL32(128, 128, 132, 128)};
const PillLook kPills[] = {
    kIdle,
    {1, "connect.status.listening", IM_COL32(240, 170, 0, 255), IM_COL32(240, 170, 0, 128)},
    {2, "connect.status.connected", IM_COL32(46, 200, 88, 255), IM_COL32(46, 200, 88, 128)},
    {3, "error.network", IM_COL32(217, 58, 58, 255), IM_COL32(217, 58, 58, 128)},
    {7, kIdle.key, kIdle.dot, kIdle.halo},  // any other value reads as idle
};

using fakedns::reply;

class PanelsTest : public AppPanelTest {
 protected:
  void SetUp() override {
    AppPanelTest::SetUp();
    if (app) h.frames(*app, 2);
  }

  // Announces two phones, Kitchen Phone first, and waits until discovery lists them.
  void announcePhones() {
    fake.setAnswer(L"Kitchen Phone._brindlevideo._tcp.local", reply(L"Kitchen Phone._brindlevideo._tcp.local", {127, 1, 2, 3}));
    fake.setAnswer(L"Anna._brindlevideo._tcp.local", reply(L"Anna._brindlevideo._tcp.local", {127, 0, 0, 2}));
    // One at a time: the fake resolves on its own threads, and the list keeps the order found.
    fake.deliverBrowse({{DNS_TYPE_PTR, L"Kitchen Phone._brindlevideo._tcp.local"}});
    fake.drain();
    fake.deliverBrowse({{DNS_TYPE_PTR, L"Anna._brindlevideo._tcp.local"}});
    fake.drain();
  }

  // Picks entry `index` labelled `label` of the combo `combo` in the main window.
  void pick(const char* combo, int index, const char* label) {
    clickItem(PanelHarness::idIn(kMain, combo));
    clickItem(PanelHarness::idIn(kPopup, index, label));
  }

  void chooseWifiThroughThePanel() { pick("##transport", 1, "Wi-Fi"); }

  // The glyphs one frame drew into the main window and the open list, if any.
  std::string drawnTexts() {
    h.frame(*app);
    std::string text = PanelHarness::drawnText(kMain);
    ImGuiWindow* popup = PanelHarness::window(kPopup);
    if (popup != nullptr && popup->Active) text += "|" + PanelHarness::drawnText(kPopup);
    return text;
  }

  // Separator lines inside the open list (its own border has the same colour).
  int separatorVertices() {
    ImGuiWindow* popup = PanelHarness::window(kPopup);
    if (popup == nullptr) return 0;
    ImRect inside = popup->Rect();
    inside.Expand(-2.0f);
    return PanelHarness::countColor(kPopup, ImGui::GetColorU32(ImGuiCol_Separator), &inside);
  }

  void awayFromEverything() { h.moveMouse(*app, ImVec2(2, 700)); }

};

TEST_F(PanelsTest, BigButtonStartsAndIsTheRedStopButtonOnTheNextFrameThenStops) {
  const ImU32 blue = IM_COL32(43, 92, 229, 255);
  const ImU32 red = IM_COL32(217, 58, 58, 255);
  awayFromEverything();
  std::optional<ImRect> start = h.locate(*app, PanelHarness::idIn(kMain, "###connect"));
  ASSERT_TRUE(start.has_value());
  EXPECT_NEAR(start->GetHeight(), 46.0f, 0.5f);
  EXPECT_NEAR(start->GetWidth(), 704.0f - 48.0f, 0.5f) << "as wide as the content";
  EXPECT_GT(PanelHarness::countColor(kMain, blue, &*start), 0);

  h.click(*app, centreOf(*start));
  EXPECT_TRUE(probe->session().running());
  awayFromEverything();  // the frame after the press
  std::optional<ImRect> stopButton = h.locate(*app, PanelHarness::idIn(kMain, "###connect"));
  ASSERT_TRUE(stopButton.has_value());  // red: the stop button replaces start on the next frame
  EXPECT_GT(PanelHarness::countColor(kMain, red, &*stopButton), 0);
  EXPECT_EQ(PanelHarness::countColor(kMain, blue, &*stopButton), 0);

  h.click(*app, centreOf(*stopButton));
  EXPECT_FALSE(probe->session().running());
  EXPECT_EQ(probe->session().state(), transport::State::Idle);
  EXPECT_EQ(probe->session().pipeline(), nullptr);
  awayFromEverything();
  std::optional<ImRect> again = h.locate(*app, PanelHarness::idIn(kMain, "###connect"));
  ASSERT_TRUE(again.has_value());
  EXPECT_GT(PanelHarness::countColor(kMain, blue, &*again), 0);
}

// What keeps the camera or the decoder from working is told under the state line, above the
// preview, from the start until the stop.
TEST_F(PanelsTest, WhyTheCameraOrDecoderCannotWorkIsToldUnderTheStateLine) {
  const std::string ringName = std::string(ring::kFrameRingNamespace) + ring::kFrameRingName;
  auto toldAfterStart = [&](const char* key) {
    SCOPED_TRACE(key);
    probe->start();
    awayFromEverything();
    const std::string drawn = drawnTexts();
    probe->session().stop();
    const std::string notice = PanelHarness::withoutSpaces(tr(key));
    const std::size_t at = drawn.find(notice);
    ASSERT_NE(at, std::string::npos) << drawn;
    EXPECT_LT(drawn.find(PanelHarness::withoutSpaces(tr("app.name"))), at);
    EXPECT_GT(drawn.find(PanelHarness::withoutSpaces(tr("connect.button.stop"))), at);
    EXPECT_EQ(drawnTexts().find(notice), std::string::npos) << "gone once stopped";
  };

  HANDLE mutex = CreateMutexA(nullptr, FALSE, ringName.c_str());
  toldAfterStart("notice.camera.name_taken");
  CloseHandle(mutex);

  HANDLE small = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, ringName.c_str());
  toldAfterStart("notice.camera.in_use");
  CloseHandle(small);

  const testsupport::NoH264Decoder none;
  toldAfterStart("notice.decoder.missing");
}

TEST_F(PanelsTest, PhoneRowAndFoundCountAppearOnlyWithWifiAndCountThePhones) {
  announcePhones();
  std::string usb = drawnTexts();
  EXPECT_FALSE(shows(usb, "found)")) << usb;
  EXPECT_FALSE(shows(usb, tr("connect.transport.wifi"))) << usb;
  EXPECT_FALSE(h.locate(*app, PanelHarness::idIn(kMain, "##hostCombo")).has_value());
  EXPECT_TRUE(probe->services().empty()) << "the list is refreshed only with Wi-Fi chosen";

  chooseWifiThroughThePanel();
  EXPECT_EQ(probe->transportIndex(), 1);
  std::string wifi = drawnTexts();
  EXPECT_TRUE(shows(wifi, "(2 found)")) << wifi;
  EXPECT_TRUE(shows(wifi, tr("connect.transport.wifi"))) << wifi;
  EXPECT_TRUE(shows(wifi, "(select iPhone)")) << "empty address: the face invites a choice";
  std::optional<ImRect> combo = h.locate(*app, PanelHarness::idIn(kMain, "##hostCombo"));
  ASSERT_TRUE(combo.has_value());
  EXPECT_NEAR(combo->GetWidth(), 240.0f, 0.5f);
  EXPECT_EQ(probe->services().size(), 2u);

  pick("##transport", 0, "USB");
  EXPECT_EQ(probe->transportIndex(), 0);
  EXPECT_FALSE(shows(drawnTexts(), "found)"));
}

TEST_F(PanelsTest, TypingAnAddressIntoManualIpMakesTheComboFaceReadIt) {
  chooseWifiThroughThePanel();
  clickItem(PanelHarness::idIn(kMain, "##hostCombo"));
  std::string open = drawnTexts();
  // No entries and no separator: only the field, its hint and its label.
  EXPECT_EQ(PanelHarness::drawnText(kPopup), "192.168.1.42manualIP");
  EXPECT_EQ(separatorVertices(), 0);
  EXPECT_TRUE(shows(open, "(0 found)"));

  clickItem(PanelHarness::idIn(kPopup, "manual IP"), true);
  h.type(*app, "10.0.0.7");
  EXPECT_EQ(probe->host(), "10.0.0.7");

  awayFromEverything();
  h.click(*app, ImVec2(2, 700));  // outside the list: it closes
  std::string closed = drawnTexts();
  EXPECT_TRUE(shows(closed, "10.0.0.7")) << closed;
  EXPECT_FALSE(shows(closed, "(select iPhone)"));
  EXPECT_FALSE(h.locate(*app, PanelHarness::idIn(kPopup, "manual IP")).has_value()) << "closed";
}

TEST_F(PanelsTest, ChoosingAPhoneFillsTheAddressAndHighlightsItUntilTheAddressIsEdited) {
  announcePhones();
  chooseWifiThroughThePanel();
  clickItem(PanelHarness::idIn(kMain, "##hostCombo"));
  std::string open = drawnTexts();
  EXPECT_TRUE(shows(open, "Kitchen Phone  (127.1.2.3)")) << open;
  EXPECT_TRUE(shows(open, "Anna  (127.0.0.2)")) << open;
  EXPECT_GT(separatorVertices(), 0) << "entries, then a separator before the field";

  clickItem(PanelHarness::idIn(kPopup, 1, "Anna  (127.0.0.2)"));
  EXPECT_EQ(probe->host(), "127.0.0.2");
  EXPECT_FALSE(shows(drawnTexts(), "Kitchen Phone")) << "choosing closes the list";

  // Reopened, the chosen entry alone is drawn highlighted.
  clickItem(PanelHarness::idIn(kMain, "##hostCombo"));
  const ImU32 highlight = ImGui::GetColorU32(ImGuiCol_Header);
  std::optional<ImRect> kitchen = h.locate(*app, PanelHarness::idIn(kPopup, 0, "Kitchen Phone  (127.1.2.3)"));
  std::optional<ImRect> anna = h.locate(*app, PanelHarness::idIn(kPopup, 1, "Anna  (127.0.0.2)"));
  ASSERT_TRUE(kitchen.has_value());
  ASSERT_TRUE(anna.has_value());
  std::optional<ImRect> highlighted = PanelHarness::boundsOfColor(kPopup, highlight);
  ASSERT_TRUE(highlighted.has_value());
  EXPECT_TRUE(highlighted->Contains(centreOf(*anna)));
  EXPECT_FALSE(highlighted->Contains(centreOf(*kitchen)));

  // One more character in the field: the address no longer equals the entry.
  clickItem(PanelHarness::idIn(kPopup, "manual IP"), true);
  h.pressKey(*app, ImGuiKey_End);
  h.type(*app, "9");
  EXPECT_EQ(probe->host(), "127.0.0.29");
  awayFromEverything();
  EXPECT_EQ(PanelHarness::countColor(kPopup, highlight), 0);
}

TEST_F(PanelsTest, PillShowsEachStateWithItsTextColoursAndSizeAndUnknownValuesAsIdle) {
  for (const PillLook& look : kPills) {
    SCOPED_TRACE(look.value);
    // The state as a transport reports it, here one the test plays.
    testsupport::FakeTransport::Log log;
    auto transport = std::make_unique<testsupport::FakeTransport>(log);
    testsupport::FakeTransport* fakeTransport = transport.get();
    probe->session().start(std::move(transport));
    fakeTransport->report(static_cast<transport::State>(look.value));
    std::optional<ImRect> help = h.locate(*app, PanelHarness::idIn(kMain, "?"));
    ASSERT_TRUE(help.has_value());

    // In the status bar (above the preview; the red stop button below shares the error red),
    // only this state's dot and halo colours are drawn, and only its text.
    std::optional<ImRect> box = PanelHarness::boundsOfColor(kMain, IM_COL32(12, 12, 16, 255));
    ASSERT_TRUE(box.has_value());
    const ImRect bar(0.0f, 0.0f, 704.0f, box->Min.y);
    for (const PillLook& other : kPills) {
      const bool same = other.dot == look.dot;
      EXPECT_EQ(PanelHarness::countColor(kMain, other.dot, &bar) > 0, same) << other.value;
      EXPECT_EQ(PanelHarness::countColor(kMain, other.halo, &bar) > 0, same) << other.value;
    }
    const std::string drawn = PanelHarness::drawnText(kMain);
    for (const PillLook& other : kPills) {
      EXPECT_EQ(shows(drawn, tr(other.key)), std::string(other.key) == look.key) << other.key << " in " << drawn;
    }
    std::optional<ImRect> dot = PanelHarness::boundsOfColor(kMain, look.dot, &bar);
    ASSERT_TRUE(dot.has_value());

    // The pill is the label's width plus 46 and its height plus 12; the help button is a square
    // as high as the pill, 8 after it, ending one item spacing short of the right edge.
    const ImVec2 label = ImGui::CalcTextSize(tr(look.key).c_str());
    const float pillLeft = centreOf(*dot).x - 19.0f;
    EXPECT_NEAR(help->Min.x - 8.0f - pillLeft, label.x + 46.0f, 1.0f);
    EXPECT_NEAR(help->GetHeight(), label.y + 12.0f, 0.5f);
    EXPECT_NEAR(help->GetWidth(), help->GetHeight(), 0.5f);
    EXPECT_NEAR(help->Max.x, 704.0f - 24.0f - 12.0f, 1.0f);
    EXPECT_NEAR(centreOf(*dot).y, centreOf(*help).y, 1.0f);
    probe->session().stop();
  }
}

TEST_F(PanelsTest, StatisticsLineCountsFramesAndKeysInItsGrey) {
  testsupport::FakeTransport::Log log;
  auto transport = std::make_unique<testsupport::FakeTransport>(log);
  testsupport::FakeTransport* phone = transport.get();
  probe->session().start(std::move(transport));
  using testsupport::frameBytes;
  using testsupport::operator+;
  phone->deliver(testsupport::serverHello() + frameBytes(1, 0, {}) + frameBytes(2, 0, {}) + frameBytes(0x10, 0, {}) +
                 frameBytes(2, 0, {}) + frameBytes(0x77, 0, {}));
  awayFromEverything();
  const std::string drawn = drawnTexts();
  char rate[32];
  std::snprintf(rate, sizeof(rate), "%.1f", probe->session().stats().kbps);  // 0.0 within the first second
  EXPECT_TRUE(shows(drawn, std::string("frames: 5   keys: 2   ") + rate + " kbps   preview: 0.0 fps")) << drawn;

  const ImU32 grey = IM_COL32(160, 160, 170, 255);
  std::optional<ImRect> line = PanelHarness::boundsOfColor(kMain, grey);
  std::optional<ImRect> button = h.locate(*app, PanelHarness::idIn(kMain, "###connect"));
  ASSERT_TRUE(line && button);
  EXPECT_GT(line->Min.y, button->Max.y) << "below the big button";
  EXPECT_LT(line->GetHeight(), 20.0f) << "one line of text";
  EXPECT_GT(line->GetWidth(), 200.0f);
  probe->session().stop();
}

TEST_F(PanelsTest, LanguageIndexIsTheCatalogueEntryWhoseCodeEqualsTheCurrentLanguage) {
  // Exact byte comparison: a region suffix or another case is no match, and no match is English.
  const std::pair<const char*, int> cases[] = {{"ja", 1}, {"zh-Hant", 3}, {"hi", 36}, {"xx", 0},
                                               {"ja-JP", 0}, {"JA", 0}, {"en", 0}};
  for (auto [code, index] : cases) {
    i18n::Localizer::instance().setLanguage(code);
    app::App other(h.device(), h.context(), fake.functions());
    EXPECT_EQ(AppProbe(other).languageIndex(), index) << "language " << code;
  }
}

TEST_F(PanelsTest, ChoosingALanguageSwitchesTheTextsBelowAtOnceAndEveryTextOnTheNextFrame) {
  const std::string englishLanguage = tr("settings.language");
  clickItem(PanelHarness::idIn(kMain, "##lang"));
  std::optional<ImRect> japanese = h.locate(*app, PanelHarness::idIn(kPopup, 1, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"));
  ASSERT_TRUE(japanese.has_value());

  // The frame of the release picks the entry: texts above the list are still English.
  ImGuiIO& io = ImGui::GetIO();
  io.AddMousePosEvent(centreOf(*japanese).x, centreOf(*japanese).y);
  h.frame(*app);
  io.AddMouseButtonEvent(0, true);
  h.frame(*app);
  io.AddMouseButtonEvent(0, false);
  std::string pickFrame = drawnTexts();
  EXPECT_EQ(i18n::Localizer::instance().currentLanguage(), "ja");
  EXPECT_EQ(probe->languageIndex(), 1);
  ASSERT_NE(tr("settings.transport"), "Connection") << "the Japanese file is missing";
  EXPECT_TRUE(shows(pickFrame, englishLanguage)) << pickFrame;
  EXPECT_TRUE(shows(pickFrame, tr("settings.transport"))) << pickFrame;
  EXPECT_TRUE(shows(pickFrame, tr("connect.button.start"))) << pickFrame;

  std::string next = drawnTexts();
  for (const char* key : {"app.name", "settings.language", "settings.transport", "connect.button.start"}) {
    EXPECT_TRUE(shows(next, tr(key))) << key << " in " << next;
  }
  EXPECT_FALSE(shows(next, englishLanguage)) << next;

  // The pill's label is measured in the new language.
  awayFromEverything();
  std::optional<ImRect> help = h.locate(*app, PanelHarness::idIn(kMain, "?"));
  std::optional<ImRect> dot = PanelHarness::boundsOfColor(kMain, kIdle.dot);
  ASSERT_TRUE(help && dot);
  EXPECT_NEAR(help->Min.x - 8.0f - (centreOf(*dot).x - 19.0f), ImGui::CalcTextSize(tr("connect.status.idle").c_str()).x + 46.0f,
              1.0f);

  // And the help window follows.
  clickItem(PanelHarness::idIn(kMain, "?"));
  ImGuiWindow* helpWindow = PanelHarness::window(kHelp);
  ASSERT_NE(helpWindow, nullptr);
  EXPECT_EQ(std::string(helpWindow->Name), tr("help.title") + "###help");
  EXPECT_TRUE(h.locate(*app, PanelHarness::idIn(kHelp, tr("help.section.audio").c_str())).has_value());
}

TEST_F(PanelsTest, HelpButtonOpensTheHelpWindowWithFiveSectionsAndItsCloseButtonClosesIt) {
  EXPECT_EQ(PanelHarness::window(kHelp), nullptr);
  clickItem(PanelHarness::idIn(kMain, "?"));
  EXPECT_TRUE(probe->showHelp());
  h.frame(*app);
  const std::string texts = PanelHarness::drawnText(kHelp);
  ImGuiWindow* help = PanelHarness::window(kHelp);
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->Active);
  EXPECT_EQ(std::string(help->Name), tr("help.title") + "###help");
  EXPECT_NEAR(help->Size.x, 620.0f, 0.5f);
  EXPECT_NEAR(help->Size.y, 560.0f, 0.5f);

  // The headers in order, open, each followed by its body.
  const char* sections[][2] = {{"help.section.quickstart", "help.body.quickstart"},
                               {"help.section.connect", "help.body.connect"},
                               {"help.section.useapps", "help.body.useapps"},
                               {"help.section.audio", "help.body.audio"},
                               {"help.section.troubleshoot", "help.body.troubleshoot"}};
  float lastTop = -1.0f;
  std::size_t lastText = 0;
  int shown = 0;
  for (auto& section : sections) {
    SCOPED_TRACE(section[0]);
    std::optional<ImRect> header = h.locate(*app, PanelHarness::idIn(kHelp, tr(section[0]).c_str()));
    if (!header.has_value()) continue;  // below the window's visible part
    ++shown;
    EXPECT_GT(header->Min.y, lastTop);
    lastTop = header->Min.y;
    if (header->Max.y > help->InnerRect.Max.y - 40) continue;  // its body lies below the window's edge
    const std::string body = tr(section[1]);
    std::size_t at = texts.find(PanelHarness::withoutSpaces(body).substr(0, 20));
    EXPECT_NE(at, std::string::npos) << "the open section shows its body";
    if (at != std::string::npos) {
      EXPECT_GT(at, lastText);
      lastText = at;
    }
  }
  EXPECT_GE(shown, 2);

  clickItem(ImHashStr("#CLOSE", 0, help->ID));
  EXPECT_FALSE(probe->showHelp());
  h.frame(*app);
  EXPECT_FALSE(PanelHarness::window(kHelp)->Active);

  clickItem(PanelHarness::idIn(kMain, "?"));
  EXPECT_TRUE(probe->showHelp()) << "and opens again";
}

}  // namespace
