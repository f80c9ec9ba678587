// The real program (runProgram: window, swap chain, Dear ImGui's Win32 and Direct3D 11 back ends,
// Debian's fonts) driven through its panels, with screenshots kept as PNG files in the build tree
// and checked by their pixels: idle, streaming from the phone simulator over Wi-Fi, help open,
// the language list open at its right-to-left names, Arabic with the camera following the
// preview and its help wrapped right to left, Hebrew's help, and Japanese. A screenshot is the frame's own draw data rendered again by the program's
// Direct3D 11 back end into a texture of ours and read back.
#include <windows.h>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_internal.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <chrono>
#include <wrl/client.h>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/program_win.h"
#include "app/app_probe.h"
#include "i18n/languages.h"
#include "i18n/localizer.h"
#include "i18n/rtl_text.h"
#include "panel_harness_win.h"
#include "readme_shot.h"
#include "support/child_process_win.h"
#include "support/process_watch_win.h"
#include "support/wait.h"
#include "tools/camera_viewer/png_writer.h"
#include "tools/phone_sim/phone_simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

// Screenshots are kept as PNG artifacts; alpha is dropped.
bool writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba) {
  if (width <= 0 || height <= 0 || rgba.size() < std::size_t(width) * std::size_t(height) * 4) return false;
  std::vector<std::uint8_t> rgb(std::size_t(width) * std::size_t(height) * 3);
  for (std::size_t i = 0, n = rgb.size() / 3; i < n; ++i) {
    rgb[3 * i] = rgba[4 * i];
    rgb[3 * i + 1] = rgba[4 * i + 1];
    rgb[3 * i + 2] = rgba[4 * i + 2];
  }
  std::vector<std::uint8_t> png = cameraviewer::encodePng(rgb.data(), std::uint32_t(width), std::uint32_t(height));
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  return !png.empty() && bool(out);
}

constexpr const char* kMain = "##main";
constexpr const char* kPopup = "##Combo_00";

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;

  const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * width + x) * 4]; }
  bool looksLike(int x, int y, int r, int g, int b, int tolerance = 3) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const std::uint8_t* p = at(x, y);
    return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - b) <= tolerance;
  }
  // Pixels inside `r` farther than `tolerance` from the colour.
  int countUnlike(const ImRect& r, int red, int green, int blue, int tolerance = 12) const {
    int count = 0;
    for (int y = int(r.Min.y); y < int(r.Max.y) && y < height; ++y) {
      for (int x = int(r.Min.x); x < int(r.Max.x) && x < width; ++x) {
        if (!looksLike(x, y, red, green, blue, tolerance)) ++count;
      }
    }
    return count;
  }
};

// The frame's draw data, rendered again by the back end into a texture and read back.
Image capture(ID3D11Device* device, ID3D11DeviceContext* context) {
  Image image;
  ImDrawData* data = ImGui::GetDrawData();
  if (data == nullptr || data->DisplaySize.x < 1 || data->DisplaySize.y < 1) return image;
  D3D11_TEXTURE2D_DESC desc = {};
  desc.Width = UINT(data->DisplaySize.x);
  desc.Height = UINT(data->DisplaySize.y);
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  desc.SampleDesc.Count = 1;
  desc.Usage = D3D11_USAGE_DEFAULT;
  desc.BindFlags = D3D11_BIND_RENDER_TARGET;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> target;
  Microsoft::WRL::ComPtr<ID3D11RenderTargetView> view;
  if (FAILED(device->CreateTexture2D(&desc, nullptr, &target)) ||
      FAILED(device->CreateRenderTargetView(target.Get(), nullptr, &view))) {
    return image;
  }
  const float clear[4] = {0.04f, 0.05f, 0.07f, 1.0f};  // the program's clear colour
  context->OMSetRenderTargets(1, view.GetAddressOf(), nullptr);
  context->ClearRenderTargetView(view.Get(), clear);
  ImGui_ImplDX11_RenderDrawData(data);
  image.rgba = PanelHarness::readPixels(device, context, target.Get());
  if (image.rgba.empty()) return image;
  image.width = int(desc.Width);
  image.height = int(desc.Height);
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
  return image;
}

// A script of steps run one after another from the program's after-frame hook; each step is
// called once per frame until it reports done.
class Script {
 public:
  using Step = std::function<bool(app::App& app, HWND window)>;
  void add(Step step) { steps_.push_back(std::move(step)); }

  // False once the script has ended (or failed); the window is then asked to close.
  void run(app::App& app, HWND window) {
    if (finished_) return;
    if (Clock::now() > deadline_) {
      fail("the script did not finish within its time; at step " + std::to_string(index_));
    } else if (index_ < steps_.size()) {
      if (steps_[index_](app, window)) ++index_;
      if (index_ < steps_.size()) return;
    }
    finished_ = true;
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  void fail(const std::string& why) { failures.push_back(why); }

  std::vector<std::string> failures;
  Clock::time_point deadline_ = Clock::now() + std::chrono::seconds(150);

 private:
  std::vector<Step> steps_;
  std::size_t index_ = 0;
  bool finished_ = false;
};

// Steps that act like a user: the mouse is moved for real and fed to Dear ImGui.
void pointAt(HWND window, ImVec2 at) {
  POINT p = {LONG(at.x), LONG(at.y)};
  ClientToScreen(window, &p);
  SetCursorPos(p.x, p.y);
  ImGui::GetIO().AddMousePosEvent(at.x, at.y);
}

Script::Step clickItem(Script& script, ImGuiID id, bool textField = false) {
  auto frame = std::make_shared<int>(0);
  return [&script, id, textField, frame](app::App&, HWND window) {
    switch ((*frame)++) {
      case 0:
        ImGui::DebugLocateItem(id);
        return false;
      case 1: {
        std::optional<ImRect> r = PanelHarness::locatedRect(8);
        if (!r) {
          script.fail("item not found: " + std::to_string(id));
          return true;
        }
        pointAt(window, textField ? ImVec2(r->Min.x + 10, (r->Min.y + r->Max.y) / 2) : centreOf(*r));
        return false;
      }
      case 2:
        ImGui::GetIO().AddMouseButtonEvent(0, true);
        return false;
      default:
        ImGui::GetIO().AddMouseButtonEvent(0, false);
        return true;
    }
  };
}

Script::Step wait(int frames) {
  auto left = std::make_shared<int>(frames);
  return [left](app::App&, HWND) { return --*left <= 0; };
}

Script::Step typeText(const std::string& text) {
  auto next = std::make_shared<std::size_t>(0);
  return [text, next](app::App&, HWND) {
    ImGui::GetIO().AddInputCharacter(static_cast<unsigned char>(text[(*next)++]));
    return *next >= text.size();
  };
}

Script::Step mouseButton(bool down) {
  return [down](app::App&, HWND) {
    ImGui::GetIO().AddMouseButtonEvent(0, down);
    return true;
  };
}

Script::Step moveAway() {
  return [](app::App&, HWND window) {
    pointAt(window, ImVec2(4, 700));
    return true;
  };
}

// Two steps: ask for item `id`'s rectangle, then hand it (empty when it was not drawn) to `what`.
void addLocate(Script& script, ImGuiID id, std::function<void(const ImRect&)> what) {
  script.add([id](app::App&, HWND) {
    ImGui::DebugLocateItem(id);
    return true;
  });
  script.add([what](app::App&, HWND) {
    what(PanelHarness::locatedRect(8).value_or(ImRect()));
    return true;
  });
}

// Catalogue entry `index` as the language list ought to draw it: a right-to-left name prepared
// as the translated texts are, any other as stored.
std::string listedName(int index) {
  const char* name = "";
  if (!i18n::languageName(index, &name)) return {};
  const char* code = i18n::kLanguages[index].code;
  return PanelHarness::withoutSpaces(
      i18n::isRtlLanguage(code) ? i18n::prepareRtlText(name, i18n::needsArabicShaping(code)) : name);
}

Script::Step shoot(std::map<std::string, Image>& shots, const std::string& name) {
  return [&shots, name](app::App& app, HWND) {
    AppProbe probe(app);
    Image image = capture(probe.device(), probe.context());
    writePng(std::string(BRINDLE_SHOT_DIR) + "/" + name + ".png", image.width, image.height, image.rgba);
    shots[name] = std::move(image);
    return true;
  };
}

// What a step saw of the program's Dear ImGui state, kept for the checks after the run.
struct Seen {
  ImRect box, startButton, stopButton, help, follow;
  bool helpShown = false, following = false;
  receiver::StreamStats stats;
  double previewFps = 0;
  std::map<std::string, std::vector<std::uint32_t>> missingGlyphs;  // language -> code points
  std::map<std::string, std::vector<PanelHarness::Glyph>> helpGlyphs;
  std::map<std::string, float> helpRight;  // right edge of the help window's text
  std::map<std::string, std::string> languageBox;  // language -> glyphs of the closed list
  std::string languageList;  // glyphs of the open list
};

Script::Step record(std::function<void(app::App&)> what) {
  return [what](app::App& app, HWND) {
    what(app);
    return true;
  };
}

// Every character of every keyed text must have a glyph in the loaded fonts.
std::vector<std::uint32_t> missingGlyphs() {
  static const char* const keys[] = {"app.name", "settings.language", "settings.transport", "connect.transport.wifi",
                                     "connect.button.start", "connect.button.stop", "connect.status.idle",
                                     "help.title", "help.section.quickstart", "help.body.quickstart",
                                     "preview.follow", "notice.camera.in_use", "notice.camera.name_taken",
                                     "notice.camera.no_memory", "notice.decoder.missing"};
  std::vector<std::uint32_t> missing;
  ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
  for (const char* key : keys) {
    const std::string text = i18n::Localizer::instance().translate(key);
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end) {
      unsigned int c = 0;
      p += ImTextCharFromUtf8(&c, p, end);
      if (c >= 0x20 && c != 0x200E && c != 0x200F && font->FindGlyphNoFallback(ImWchar(c)) == nullptr) {
        missing.push_back(c);
      }
    }
  }
  return missing;
}

TEST(PanelScreenshotTest, IdleStreamingHelpArabicHebrewAndJapaneseLookRight) {
  std::filesystem::create_directories(BRINDLE_SHOT_DIR);
  i18n::Localizer::instance().setLanguage("en");

  phonesim::SimulatorOptions options;
  options.port = 5555;
  options.bindAddress = "127.0.0.1";
  options.clipPath = BRINDLE_CLIP_DIR "/clip_1280x720.264";
  phonesim::PhoneSimulator phone(options);
  ASSERT_TRUE(phone.start()) << "the phone simulator needs 127.0.0.1:5555";

  std::map<std::string, Image> shots;
  Seen seen;
  Script script;
  auto tr = [](const char* key) { return i18n::Localizer::instance().translate(key); };

  script.add(wait(10));
  script.add(moveAway());
  script.add(wait(3));
  script.add(record([&](app::App&) { seen.box = PanelHarness::boundsOfColor(kMain, IM_COL32(12, 12, 16, 255)).value_or(ImRect()); }));
  script.add(shoot(shots, "idle"));
  script.add([&](app::App&, HWND) {
    ImGui::DebugLocateItem(PanelHarness::idIn(kMain, "###connect"));
    return true;
  });
  script.add(record([&](app::App&) { seen.startButton = PanelHarness::locatedRect(8).value_or(ImRect()); }));

  // Wi-Fi, 127.0.0.1 typed into the list's field, start.
  script.add(clickItem(script, PanelHarness::idIn(kMain, "##transport")));
  script.add(clickItem(script, PanelHarness::idIn(kPopup, 1, "Wi-Fi")));
  script.add(clickItem(script, PanelHarness::idIn(kMain, "##hostCombo")));
  script.add(clickItem(script, PanelHarness::idIn(kPopup, "manual IP"), true));
  script.add(typeText("127.0.0.1"));
  script.add(moveAway());
  script.add(wait(1));
  script.add(mouseButton(true));  // outside the list: it closes
  script.add(mouseButton(false));
  script.add(wait(2));
  script.add(clickItem(script, PanelHarness::idIn(kMain, "###connect")));
  script.add(moveAway());
  // Streaming: pictures in the preview, statistics counting; bounded by the script's deadline.
  script.add([&](app::App& app, HWND) {
    AppProbe probe(app);
    return probe.session().stats().keys > 0 && probe.previewSrv() != nullptr && probe.previewFps() > 0;
  });
  script.add(wait(30));
  script.add([&](app::App& app, HWND) {
    AppProbe probe(app);
    seen.stats = probe.session().stats();
    seen.previewFps = probe.previewFps();
    if (probe.host() != "127.0.0.1" || !probe.session().running()) script.fail("not streaming from 127.0.0.1: " + probe.host());
    ImGui::DebugLocateItem(PanelHarness::idIn(kMain, "###connect"));
    return true;
  });
  script.add(record([&](app::App&) { seen.stopButton = PanelHarness::locatedRect(8).value_or(ImRect()); }));
  script.add(wait(2));
  script.add(shoot(shots, "streaming"));

  script.add(clickItem(script, PanelHarness::idIn(kMain, "?")));
  script.add(moveAway());
  script.add(wait(5));
  script.add(record([&](app::App& app) {
    seen.helpShown = AppProbe(app).showHelp();
    if (ImGuiWindow* help = PanelHarness::window("###help")) seen.help = help->Rect();
  }));
  script.add(shoot(shots, "help"));
  script.add(clickItem(script, PanelHarness::idIn("###help", "#CLOSE")));

  // The language list open in English, wheeled to its end, where the right-to-left names are.
  script.add(clickItem(script, PanelHarness::idIn(kMain, "##lang")));
  script.add(wait(3));
  script.add([](app::App&, HWND window) {
    if (ImGuiWindow* list = PanelHarness::window(kPopup)) pointAt(window, centreOf(list->Rect()));
    return true;
  });
  script.add([](app::App&, HWND) {
    ImGui::GetIO().AddMouseWheelEvent(0, -40);
    return true;
  });
  script.add(moveAway());
  script.add(wait(3));
  script.add(record([&](app::App&) { seen.languageList = PanelHarness::drawnText(kPopup); }));
  script.add(shoot(shots, "language list"));
  script.add(mouseButton(true));  // outside the list: it closes
  script.add(mouseButton(false));
  script.add(wait(2));

  const std::pair<int, const char*> languages[] = {{33, "arabic"}, {34, "hebrew"}, {1, "japanese"}};
  for (auto [index, name] : languages) {
    script.add(record([&, index = index](app::App& app) { AppProbe(app).chooseLanguage(index); }));
    script.add(wait(5));
    if (index == 33) {
      // The camera follows the preview, ticked in a right-to-left language.
      script.add(clickItem(script, PanelHarness::idIn(kMain, "###follow")));
      script.add(moveAway());
      script.add([&](app::App&, HWND) {
        ImGui::DebugLocateItem(PanelHarness::idIn(kMain, "###follow"));
        return true;
      });
      script.add(record([&](app::App& app) {
        seen.follow = PanelHarness::locatedRect(8).value_or(ImRect());
        seen.following = AppProbe(app).session().orientation().follow.load();
      }));
      script.add(wait(2));
    }
    addLocate(script, PanelHarness::idIn(kMain, "##lang"), [&, name = std::string(name)](const ImRect& box) {
      seen.languageBox[name] = PanelHarness::drawnText(kMain, &box);
    });
    script.add(record([&, name = std::string(name)](app::App&) { seen.missingGlyphs[name] = missingGlyphs(); }));
    script.add(shoot(shots, name));
    if (index == 1) continue;
    // The help, narrow enough for the quick start's numbered lines to wrap.
    script.add(clickItem(script, PanelHarness::idIn(kMain, "?")));
    script.add(moveAway());
    script.add(record([](app::App&) { ImGui::SetWindowSize("###help", ImVec2(320, 560)); }));
    script.add(wait(5));
    script.add(record([&, name = std::string(name)](app::App&) {
      seen.helpGlyphs[name] = PanelHarness::drawnGlyphs("###help");
      if (ImGuiWindow* help = PanelHarness::window("###help")) seen.helpRight[name] = help->WorkRect.Max.x;
    }));
    script.add(shoot(shots, std::string(name) + " help"));
    script.add(clickItem(script, PanelHarness::idIn("###help", "#CLOSE")));
  }

  app::ProgramHooks hooks;
  hooks.fontsFolder = BRINDLE_TEST_FONTS "/all";
  hooks.afterFrame = [&](app::App& app, HWND window) { script.run(app, window); };
  hooks.everyRefresh = true;  // the script counts frames
  int result = -1;
  std::thread ui([&] { result = app::runProgram(GetModuleHandleW(nullptr), hooks); });
  ui.join();
  phone.stop();
  i18n::Localizer::instance().setLanguage("en");

  EXPECT_EQ(result, 0);
  for (const std::string& failure : script.failures) ADD_FAILURE() << failure;
  ASSERT_EQ(shots.size(), 9u);

  // Idle: the empty box with "No signal" in the middle, the blue start button.
  const Image& idle = shots["idle"];
  ASSERT_GT(seen.box.GetWidth(), 100.0f);
  EXPECT_TRUE(idle.looksLike(int(seen.box.Min.x) + 20, int(seen.box.Min.y) + 20, 12, 12, 16));
  const ImVec2 middle = centreOf(seen.box);
  ImRect textArea(middle.x - 40, middle.y - 10, middle.x + 40, middle.y + 10);
  EXPECT_GT(idle.countUnlike(textArea, 12, 12, 16), 30) << "\"No signal\" is drawn";
  ASSERT_GT(seen.startButton.GetWidth(), 100.0f);
  EXPECT_TRUE(idle.looksLike(int(seen.startButton.Min.x) + 20, int(centreOf(seen.startButton).y), 43, 92, 229));

  // Streaming: the simulator's picture fills the top of the box, the stop button is red and the
  // statistics count.
  const Image& streaming = shots["streaming"];
  ImRect picture(seen.box.Min.x + 60, seen.box.Min.y + 20, seen.box.Max.x - 60, seen.box.Min.y + 300);
  int changed = streaming.countUnlike(picture, 12, 12, 16);
  EXPECT_GT(changed, int(picture.GetArea() / 2)) << "the picture covers the box";
  ASSERT_GT(seen.stopButton.GetWidth(), 100.0f);
  EXPECT_TRUE(streaming.looksLike(int(seen.stopButton.Min.x) + 20, int(centreOf(seen.stopButton).y), 217, 58, 58));
  EXPECT_GT(seen.stats.frames, 0u);
  EXPECT_GT(seen.stats.keys, 0u);
  EXPECT_GT(seen.stats.kbps, 0.0);
  EXPECT_GT(seen.previewFps, 0.0);
  // The README shows this shot; the picture and the statistics below the stop button move.
  bool rewritten = false;
  EXPECT_TRUE(readmeshot::keep(BRINDLE_README_SHOT, streaming.width, streaming.height, streaming.rgba,
                               {{int(seen.box.Min.x), int(seen.box.Min.y), int(seen.box.Max.x) + 1, int(seen.box.Max.y) + 1},
                                {0, int(seen.stopButton.Max.y) + 1, streaming.width, streaming.height}},
                               &rewritten));
  if (rewritten) std::printf("README screenshot rewritten: the window looks different\n");

  // Help: a focused window with its title bar over the main window.
  EXPECT_TRUE(seen.helpShown);
  ASSERT_GT(seen.help.GetWidth(), 100.0f);
  const ImVec4 title = ImVec4(0.16f, 0.29f, 0.48f, 1.0f);  // the dark style's active title bar
  EXPECT_TRUE(shots["help"].looksLike(int(seen.help.Min.x) + 200, int(seen.help.Min.y) + 4, int(title.x * 255 + 0.5f),
                                 int(title.y * 255 + 0.5f), int(title.z * 255 + 0.5f)));
  EXPECT_GT(shots["help"].countUnlike(seen.help, 13, 15, 20, 20), 1000) << "sections are drawn";

  // Right-to-left help: the quick start's first line begins at the top right, and its wrapped
  // second line reads on downwards from its number at the right edge.
  for (const char* name : {"arabic", "hebrew"}) {
    SCOPED_TRACE(name);
    const std::vector<PanelHarness::Glyph>& glyphs = seen.helpGlyphs[name];
    auto next = [&](unsigned c, std::size_t from) {
      while (from < glyphs.size() && glyphs[from].codePoint != c) ++from;
      return from;
    };
    const std::size_t one = next('1', 0), two = next('2', one), wifi = next('W', two);
    ASSERT_LT(wifi, glyphs.size()) << "the numbered lines of the quick start are drawn";
    for (std::size_t number : {one, two}) {
      const ImRect& box = glyphs[number].box;
      EXPECT_NEAR(box.Max.x, seen.helpRight[name], 6.0f) << "line " << number << " is right-aligned";
      int further = 0;
      for (const PanelHarness::Glyph& g : glyphs) {
        if (std::abs(g.box.GetCenter().y - box.GetCenter().y) < 2 && g.box.Min.x > box.Min.x) ++further;
      }
      EXPECT_EQ(further, 0) << "the number ends its row";
      EXPECT_GT(shots[std::string(name) + " help"].countUnlike(box, 13, 15, 20, 20), 0) << "the number is on the screenshot";
    }
    EXPECT_LT(glyphs[one].box.Max.y, glyphs[two].box.Min.y);
    EXPECT_LT(glyphs[two].box.Max.y, glyphs[wifi].box.Min.y) << "the second line reads downwards";
  }

  // The language list: right-to-left names shaped and ordered whatever the current language, the
  // others as stored, both open and closed.
  for (int index : {33, 34, 35, 36}) {
    EXPECT_NE(seen.languageList.find(listedName(index)), std::string::npos)
        << i18n::kLanguages[index].code << " in the open list: " << seen.languageList;
  }
  for (auto [index, name] : languages) EXPECT_EQ(seen.languageBox[name], listedName(index)) << "the closed list in " << name;

  // Arabic, Hebrew and Japanese: every character has its glyph, and the texts differ on screen.
  for (const char* name : {"arabic", "hebrew", "japanese"}) {
    EXPECT_TRUE(seen.missingGlyphs[name].empty()) << name << ": " << seen.missingGlyphs[name].size() << " missing, first U+"
                                                  << std::hex << (seen.missingGlyphs[name].empty() ? 0 : seen.missingGlyphs[name][0]);
  }
  ImRect button(seen.stopButton.Min.x, seen.stopButton.Min.y, seen.stopButton.Max.x, seen.stopButton.Max.y);
  int differs = 0;
  for (int y = int(button.Min.y); y < int(button.Max.y); ++y) {
    for (int x = int(button.Min.x); x < int(button.Max.x); ++x) {
      const std::uint8_t* a = shots["arabic"].at(x, y);
      const std::uint8_t* j = shots["japanese"].at(x, y);
      if (std::abs(a[0] - j[0]) + std::abs(a[1] - j[1]) + std::abs(a[2] - j[2]) > 60) ++differs;
    }
  }
  EXPECT_GT(differs, 20) << "the stop button's label changes with the language";

  // The follow box, ticked in Arabic: the check mark in the dark style's colour, the label beside.
  EXPECT_TRUE(seen.following);
  ASSERT_GT(seen.follow.GetWidth(), seen.follow.GetHeight());
  const ImRect square(seen.follow.Min, ImVec2(seen.follow.Min.x + seen.follow.GetHeight(), seen.follow.Max.y));
  const Image& arabic = shots["arabic"];
  EXPECT_LT(arabic.countUnlike(square, 66, 150, 250, 40), int(square.GetArea()) - 10) << "the check mark";
  const ImRect label(square.Max.x, seen.follow.Min.y, seen.follow.Max.x, seen.follow.Max.y);
  EXPECT_GT(arabic.countUnlike(label, 15, 15, 15, 30), 30) << "the label";
}

// Wine takes the display's DPI from the user's LogPixels when a program starts. The test sets
// 144 (150 %) there, runs itself once more for the shot, and puts the old value back as soon as
// that run has its window, so no other program of the run sees it.
class LogPixels {
 public:
  explicit LogPixels(DWORD dpi) {
    DWORD size = sizeof(old_);
    had_ = RegGetValueW(HKEY_CURRENT_USER, kKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &old_, &size) == ERROR_SUCCESS;
    set_ = RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"LogPixels", REG_DWORD, &dpi, sizeof(dpi)) == ERROR_SUCCESS;
  }
  ~LogPixels() { restore(); }
  bool set() const { return set_; }
  void restore() {
    if (had_) RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"LogPixels", REG_DWORD, &old_, sizeof(old_));
    if (!had_ && set_) RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"LogPixels");
    had_ = set_ = false;
  }

 private:
  static constexpr const wchar_t* kKey = L"Control Panel\\Desktop";
  DWORD old_ = 0;
  bool had_ = false, set_ = false;
};

// At 144 DPI the window, its layout and the big button are half as large again in each direction
// as at 96 DPI, and the text is rasterised at that size rather than stretched.
TEST(PanelScreenshotTest, At144DpiEverythingIsHalfAsLargeAgainAndTextIsSharp) {
  constexpr wchar_t kRunVariable[] = L"BRINDLE_SHOT_AT_144_DPI";
  if (GetEnvironmentVariableW(kRunVariable, nullptr, 0) == 0) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    LogPixels dpi(144);
    ASSERT_TRUE(dpi.set());
    SetEnvironmentVariableW(kRunVariable, L"1");
    testsupport::ChildProcess run;
    const bool started = run.start(std::wstring(L"\"") + self + L"\" --gtest_brief=1 --gtest_filter=" +
                                   L"PanelScreenshotTest.At144DpiEverythingIsHalfAsLargeAgainAndTextIsSharp");
    SetEnvironmentVariableW(kRunVariable, nullptr);
    ASSERT_TRUE(started);
    testsupport::waitUntil([&] { return testsupport::findWindowOf(run.id(), L"BrindleVideoWindow") != nullptr; },
                           std::chrono::seconds(60));
    dpi.restore();
    EXPECT_EQ(run.wait(240000), 0) << "the run at 144 DPI failed (its output is above)";
    return;
  }

  std::filesystem::create_directories(BRINDLE_SHOT_DIR);
  i18n::Localizer::instance().setLanguage("en");
  std::map<std::string, Image> shots;
  Script script;
  UINT dpi = 0;
  RECT window = {}, client = {};
  ImRect box, startButton;
  float fontSize = 0, globalScale = 0, rasterised = 0;
  script.add(wait(10));
  script.add(moveAway());
  script.add(wait(3));
  script.add([&](app::App&, HWND w) {
    dpi = GetDpiForWindow(w);
    GetWindowRect(w, &window);
    GetClientRect(w, &client);
    // Both filled shapes, by their vertices in their own colour: half a pixel inside their edges.
    box = PanelHarness::boundsOfColor(kMain, IM_COL32(12, 12, 16, 255)).value_or(ImRect());
    startButton = PanelHarness::boundsOfColor(kMain, IM_COL32(43, 92, 229, 255)).value_or(ImRect());
    fontSize = ImGui::GetIO().Fonts->Fonts[0]->FontSize;
    rasterised = ImGui::GetIO().Fonts->ConfigData[0].SizePixels;
    globalScale = ImGui::GetIO().FontGlobalScale;
    return true;
  });
  script.add(shoot(shots, "idle at 144 dpi"));

  app::ProgramHooks hooks;
  hooks.fontsFolder = BRINDLE_TEST_FONTS "/all";
  hooks.afterFrame = [&](app::App& app, HWND w) { script.run(app, w); };
  hooks.everyRefresh = true;
  EXPECT_EQ(app::runProgram(GetModuleHandleW(nullptr), hooks), 0);
  for (const std::string& failure : script.failures) ADD_FAILURE() << failure;
  ASSERT_EQ(shots.size(), 1u);

  ASSERT_EQ(dpi, 144u) << "Wine did not take the 144 DPI";
  std::printf("window at 144 DPI: %ldx%ld, client %ldx%ld; big button %.0fx%.0f\n", window.right - window.left,
              window.bottom - window.top, client.right, client.bottom, startButton.GetWidth() + 1,
              startButton.GetHeight() + 1);
  // At 96 DPI the client area is 704 x 721, the big button 656 x 46 and the box 360 high.
  EXPECT_EQ(client.right, 704 * 3 / 2);
  EXPECT_EQ(client.bottom, 1082);  // 721 x 1.5, rounded
  EXPECT_NEAR(startButton.GetWidth() + 1, 656 * 1.5f, 0.5f);
  EXPECT_NEAR(startButton.GetHeight() + 1, 46 * 1.5f, 0.5f);
  EXPECT_NEAR(box.GetHeight() + 1, 360 * 1.5f, 0.5f);
  EXPECT_EQ(fontSize, 24.0f);
  EXPECT_EQ(rasterised, 24.0f);
  EXPECT_EQ(globalScale, 1.0f);

  // The shot looks as the one at 96 DPI does: the empty box with "No signal", the blue button.
  const Image& idle = shots["idle at 144 dpi"];
  EXPECT_TRUE(idle.looksLike(int(box.Min.x) + 30, int(box.Min.y) + 30, 12, 12, 16));
  const ImVec2 middle = centreOf(box);
  EXPECT_GT(idle.countUnlike(ImRect(middle.x - 60, middle.y - 15, middle.x + 60, middle.y + 15), 12, 12, 16), 45)
      << "\"No signal\" is drawn";
  EXPECT_TRUE(idle.looksLike(int(startButton.Min.x) + 30, int(centreOf(startButton).y), 43, 92, 229));
}

}  // namespace
