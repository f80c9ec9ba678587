// The entry's pieces with a real window and a real Direct3D 11 device: the window procedure's
// decisions, the resize bookkeeping, device creation with its WARP fallback, and whole runs of
// the program on a thread of their own (one run per thread: each has its own message queue).
#include "app/program_win.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/app_win.h"
#include "app/frame_pacing.h"
#include "app/frame_wait_win.h"
#include "app/graphics_win.h"
#include "app/main_window_win.h"
#include "app_probe.h"
#include "common/steady_clock.h"
#include "i18n/font_folder_win.h"
#include "media/decoded_frame.h"
#include "receiver/protocol.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_reader.h"
#include "support/log_capture.h"
#include "support/loopback_server_win.h"
#include "support/wait.h"
#include "tools/phone_sim/phone_simulator.h"
#include "tools/usbmux_emulator/usbmux_emulator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

HINSTANCE thisModule() { return GetModuleHandleW(nullptr); }

// Handles every message waiting for this thread, for at most `duration`.
void pumpFor(std::chrono::milliseconds duration) {
  auto end = Clock::now() + duration;
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    std::this_thread::sleep_for(5ms);
  } while (Clock::now() < end);
}

// The system commands that reach DefWindowProcW on this thread: it asks the CBT hook before it
// acts on one. The hook refuses the Alt key's menu command, so a fault cannot hang a test in a
// menu loop.
struct SysCommandSpy {
  static inline std::vector<WPARAM> seen;
  static LRESULT CALLBACK hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_SYSCOMMAND) {
      seen.push_back(wParam & 0xFFF0);
      if ((wParam & 0xFFF0) == SC_KEYMENU) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  SysCommandSpy() {
    seen.clear();
    handle = SetWindowsHookExW(WH_CBT, hook, nullptr, GetCurrentThreadId());
  }
  ~SysCommandSpy() { UnhookWindowsHookEx(handle); }
  static bool saw(WPARAM command) {
    for (WPARAM c : seen) {
      if (c == command) return true;
    }
    return false;
  }
  HHOOK handle = nullptr;
};

class EntryWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app::registerWindowClass(thisModule());
    window_ = app::createMainWindow(thisModule(), &graphics_);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    app::releaseGraphics(graphics_);
    if (window_ != nullptr) DestroyWindow(window_);
    pumpFor(20ms);  // the WM_QUIT that WM_DESTROY posts
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    app::unregisterWindowClass(thisModule());
  }

  std::pair<UINT, UINT> clientSize() const {
    RECT r = {};
    GetClientRect(window_, &r);
    return {UINT(r.right - r.left), UINT(r.bottom - r.top)};
  }
  std::pair<UINT, UINT> bufferSize() const {
    DXGI_SWAP_CHAIN_DESC desc = {};
    graphics_.swapChain->GetDesc(&desc);
    return {desc.BufferDesc.Width, desc.BufferDesc.Height};
  }

  app::Graphics graphics_;
  HWND window_ = nullptr;
};

TEST_F(EntryWindowTest, ResizesAreRecordedWithADeviceOnlyNeverWhenMinimisedAndAppliedOnce) {
  SetWindowPos(window_, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(graphics_.pendingResizeWidth, 0u) << "no device yet";

  ASSERT_TRUE(app::createGraphics(window_, graphics_));
  app::createBackBufferView(graphics_);
  ASSERT_NE(graphics_.mainRenderTargetView.Get(), nullptr);
  ShowWindow(window_, SW_SHOWNORMAL);
  pumpFor(50ms);
  app::applyPendingResize(graphics_);

  ShowWindow(window_, SW_MINIMIZE);
  pumpFor(50ms);
  ASSERT_TRUE(IsIconic(window_));
  EXPECT_EQ(graphics_.pendingResizeWidth, 0u) << "minimising records no resize";
  EXPECT_EQ(graphics_.pendingResizeHeight, 0u);

  ShowWindow(window_, SW_RESTORE);
  pumpFor(50ms);
  ASSERT_FALSE(IsIconic(window_));
  EXPECT_EQ(std::make_pair(graphics_.pendingResizeWidth, graphics_.pendingResizeHeight), clientSize());

  SetWindowPos(window_, nullptr, 0, 0, 500, 420, SWP_NOMOVE | SWP_NOZORDER);
  pumpFor(50ms);
  std::pair<UINT, UINT> wanted = clientSize();
  ASSERT_EQ(std::make_pair(graphics_.pendingResizeWidth, graphics_.pendingResizeHeight), wanted);
  ASSERT_NE(wanted, bufferSize());

  app::applyPendingResize(graphics_);  // what the next frame does first
  EXPECT_EQ(bufferSize(), wanted);
  EXPECT_EQ(graphics_.pendingResizeWidth, 0u);
  EXPECT_EQ(graphics_.pendingResizeHeight, 0u);
  EXPECT_NE(graphics_.mainRenderTargetView.Get(), nullptr) << "a view of the resized buffer";

  // A size with a zero side is no resize to apply.
  graphics_.pendingResizeWidth = 300;
  app::applyPendingResize(graphics_);
  EXPECT_EQ(bufferSize(), wanted);
}

TEST_F(EntryWindowTest, AltAloneDoesNotOpenTheWindowMenuButOtherSystemCommandsWork) {
  ShowWindow(window_, SW_SHOWNORMAL);
  pumpFor(50ms);
  SysCommandSpy spy;
  ASSERT_NE(spy.handle, nullptr);

  // Alt pressed and released alone, as the keyboard sends it.
  SetForegroundWindow(window_);
  SetFocus(window_);
  INPUT keys[2] = {};
  keys[0].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = VK_MENU;
  keys[1] = keys[0];
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, keys, sizeof(INPUT));
  pumpFor(200ms);
  // And the command itself, whatever its low bits hold.
  EXPECT_EQ(SendMessageW(window_, WM_SYSCOMMAND, SC_KEYMENU, 0), 0);
  EXPECT_EQ(SendMessageW(window_, WM_SYSCOMMAND, SC_KEYMENU | 0x3, ' '), 0);
  EXPECT_FALSE(spy.saw(SC_KEYMENU)) << "the menu command reached DefWindowProcW";

  SendMessageW(window_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(spy.saw(SC_MINIMIZE));
  EXPECT_TRUE(IsIconic(window_)) << "other system commands reach DefWindowProcW";
}

// The spy above works: a window that passes every command on shows it the menu command.
TEST(EntryMenuProbeTest, TheSpySeesTheMenuCommandOfAPlainWindow) {
  WNDCLASSEXW plain = {};
  plain.cbSize = sizeof(plain);
  plain.lpfnWndProc = DefWindowProcW;
  plain.hInstance = thisModule();
  plain.lpszClassName = L"BrindlePlainWindow";
  RegisterClassExW(&plain);
  HWND window = CreateWindowExW(0, plain.lpszClassName, L"plain", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                nullptr, thisModule(), nullptr);
  ASSERT_NE(window, nullptr);
  SysCommandSpy spy;
  SendMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, 0);
  EXPECT_TRUE(spy.saw(SC_KEYMENU));
  DestroyWindow(window);
  UnregisterClassW(plain.lpszClassName, thisModule());
}

// ---------------------------------------------------------------------------------------------
// Device creation

struct CreateCalls {
  std::vector<D3D_DRIVER_TYPE> driverTypes;
  DXGI_SWAP_CHAIN_DESC desc = {};
  std::vector<D3D_FEATURE_LEVEL> levels;
  UINT flags = 99;
  IDXGIAdapter* adapter = reinterpret_cast<IDXGIAdapter*>(1);
};

// Fails the hardware driver with `hardware`; the WARP driver with `warp`, or really when S_OK.
app::CreateDeviceFunction scripted(CreateCalls& calls, HRESULT hardware, HRESULT warp) {
  return [&calls, hardware, warp](IDXGIAdapter* adapter, D3D_DRIVER_TYPE type, HMODULE software, UINT flags,
                                  const D3D_FEATURE_LEVEL* levels, UINT count, UINT sdk,
                                  const DXGI_SWAP_CHAIN_DESC* desc, IDXGISwapChain** swapChain, ID3D11Device** device,
                                  D3D_FEATURE_LEVEL* level, ID3D11DeviceContext** context) -> HRESULT {
    calls.driverTypes.push_back(type);
    calls.desc = *desc;
    calls.levels.assign(levels, levels + count);
    calls.flags = flags;
    calls.adapter = adapter;
    HRESULT result = type == D3D_DRIVER_TYPE_HARDWARE ? hardware : warp;
    if (result != S_OK) return result;
    return D3D11CreateDeviceAndSwapChain(adapter, type, software, flags, levels, count, sdk, desc, swapChain, device,
                                         level, context);
  };
}

TEST_F(EntryWindowTest, DeviceFallsBackToWarpOnlyWhenTheHardwareDriverIsUnsupported) {
  {
    CreateCalls calls;
    EXPECT_FALSE(app::createGraphics(window_, graphics_, scripted(calls, E_FAIL, S_OK)));
    EXPECT_EQ(calls.driverTypes, std::vector<D3D_DRIVER_TYPE>{D3D_DRIVER_TYPE_HARDWARE}) << "no retry for E_FAIL";
    EXPECT_EQ(graphics_.device.Get(), nullptr);
    EXPECT_EQ(graphics_.swapChain.Get(), nullptr);
  }
  {
    CreateCalls calls;
    EXPECT_FALSE(app::createGraphics(window_, graphics_, scripted(calls, DXGI_ERROR_UNSUPPORTED, E_OUTOFMEMORY)));
    EXPECT_EQ(calls.driverTypes, (std::vector<D3D_DRIVER_TYPE>{D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}));
    EXPECT_EQ(graphics_.context.Get(), nullptr);
  }
  {
    CreateCalls calls;
    ASSERT_TRUE(app::createGraphics(window_, graphics_, scripted(calls, DXGI_ERROR_UNSUPPORTED, S_OK)));
    EXPECT_EQ(calls.driverTypes, (std::vector<D3D_DRIVER_TYPE>{D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}));
    EXPECT_NE(graphics_.device.Get(), nullptr);
    EXPECT_NE(graphics_.context.Get(), nullptr);
    EXPECT_NE(graphics_.swapChain.Get(), nullptr);
    // What both attempts asked for: one feature level, default adapter, a two-buffer flip chain.
    EXPECT_EQ(calls.adapter, nullptr);
    EXPECT_EQ(calls.flags, 0u);
    EXPECT_EQ(calls.levels, std::vector<D3D_FEATURE_LEVEL>{D3D_FEATURE_LEVEL_11_0});
    EXPECT_EQ(calls.desc.OutputWindow, window_);
    EXPECT_EQ(calls.desc.BufferCount, 2u);
    EXPECT_EQ(calls.desc.SwapEffect, DXGI_SWAP_EFFECT_FLIP_DISCARD);
    EXPECT_EQ(calls.desc.BufferDesc.Format, DXGI_FORMAT_R8G8B8A8_UNORM);
    EXPECT_TRUE(calls.desc.Windowed);
  }
}

// Windows need not live on drive C:: the fonts come from the folder Windows names, as it spells it.
TEST(FontsFolderTest, IsTheOneWindowsNames) {
  PWSTR known = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, &known), S_OK);
  const std::u8string utf8 = std::filesystem::path(known).u8string();
  CoTaskMemFree(known);
  EXPECT_EQ(i18n::systemFontsFolder(), std::string(utf8.begin(), utf8.end()) + "\\");
}

// ---------------------------------------------------------------------------------------------
// Whole runs

// Runs the program on a fresh thread and returns its exit code.
int runOnThread(const app::ProgramHooks& hooks) {
  int code = -1;
  std::thread ui([&] { code = app::runProgram(thisModule(), hooks); });
  ui.join();
  return code;
}

TEST(ProgramRunTest, NoDeviceOnEitherDriverEndsWithCodeOne) {
  CreateCalls calls;
  app::ProgramHooks hooks;
  hooks.createDevice = scripted(calls, E_FAIL, E_FAIL);
  bool drew = false;
  hooks.afterFrame = [&](app::App&, HWND) { drew = true; };
  EXPECT_EQ(runOnThread(hooks), 1);
  EXPECT_EQ(calls.driverTypes.size(), 1u);

  CreateCalls both;
  hooks.createDevice = scripted(both, DXGI_ERROR_UNSUPPORTED, DXGI_ERROR_UNSUPPORTED);
  EXPECT_EQ(runOnThread(hooks), 1);
  EXPECT_EQ(both.driverTypes.size(), 2u);
  EXPECT_FALSE(drew);
}

TEST(ProgramRunTest, WarpDeviceRunsTheSame) {
  CreateCalls calls;
  app::ProgramHooks hooks;
  hooks.createDevice = scripted(calls, DXGI_ERROR_UNSUPPORTED, S_OK);
  int frames = 0;
  hooks.afterFrame = [&](app::App&, HWND window) {
    if (++frames == 3) PostMessageW(window, WM_CLOSE, 0, 0);
  };
  EXPECT_EQ(runOnThread(hooks), 0);
  EXPECT_GE(frames, 3);
  EXPECT_EQ(calls.driverTypes.back(), D3D_DRIVER_TYPE_WARP);
}

// Xvfb has no vertical blank, so Present returns at once: the loop keeps itself to the refresh
// rate while the window is in use, and left alone draws only a few frames a second. Minimised,
// it draws nothing at all until the window is restored.
TEST(ProgramRunTest, DrawsAtTheRefreshRateOnlyWhileInUseAndNothingWhileMinimised) {
  std::atomic<int> frames{0};
  std::atomic<HWND> shown{nullptr};
  app::ProgramHooks hooks;
  hooks.afterFrame = [&](app::App&, HWND window) {
    shown = window;
    ++frames;
  };
  int inUse = -1, idle = -1, minimised = -1;
  std::uint32_t hz = 0;
  bool restored = false;
  std::thread user([&] {
    if (!testsupport::waitUntil([&] { return shown.load() != nullptr; }, 30000ms)) return;
    HWND window = shown.load();
    hz = app::refreshRateOf(window);
    int before = frames;
    for (int i = 0; i < 10; ++i) {  // the pointer moving over the window for 2 s
      PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(100 + 10 * i, 100));
      std::this_thread::sleep_for(200ms);
    }
    inUse = frames - before;
    std::this_thread::sleep_for(1500ms);  // the last message's second of drawing ends
    before = frames;
    std::this_thread::sleep_for(2000ms);
    idle = frames - before;

    ShowWindowAsync(window, SW_MINIMIZE);
    if (testsupport::waitUntil([&] { return IsIconic(window) != 0; }, 5000ms)) {
      std::this_thread::sleep_for(200ms);  // a frame under way when the window went
      before = frames;
      std::this_thread::sleep_for(1000ms);
      minimised = frames - before;
    }
    ShowWindowAsync(window, SW_RESTORE);
    before = frames;
    // Bounds fit a loaded machine, where Xvfb and llvmpipe may give only a few frames a second.
    restored = testsupport::waitUntil([&] { return frames > before + 5; }, 15000ms);
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(runOnThread(hooks), 0);
  user.join();

  const int most = 2 * int(hz > 1 ? hz : app::FramePacing::kDefaultRefreshHz) + 4;
  const int idleMost = int(2 * 1000000000 / app::FrameDemand::kIdlePeriodNs) + 2;
  std::printf("frames in 2 s: %d in use (at most %d), %d idle (at most %d); %d in 1 s minimised\n", inUse, most,
              idle, idleMost, minimised);
  EXPECT_LE(inUse, most);
  // Loaded, llvmpipe may manage only a few frames a second, so in use is not held to a floor;
  // but it must be drawn at more than the idle rate when it can.
  EXPECT_GT(inUse, idleMost / 2);
  EXPECT_LE(idle, idleMost);
  EXPECT_GE(idle, 1) << "figures and states are still drawn now and then";
  EXPECT_EQ(minimised, 0);
  EXPECT_TRUE(restored) << "drawing resumes once restored";
}

// A driver reset or update, or a removed GPU, makes Present report the device removed: everything
// made on it is made again on a new device, one line says why, and the window draws on, new
// pictures included.
TEST(ProgramRunTest, ALostDeviceIsMadeAgainAndTheWindowDrawsOn) {
  auto picture = [](std::uint32_t width, std::uint32_t height) {
    media::DecodedFrame frame;
    frame.width = width;
    frame.height = height;
    frame.stride = width;
    frame.data.assign(std::size_t(width) * height * 3 / 2, 128);
    return frame;
  };
  testsupport::LogCapture log;
  bool failNext = false;
  bool hadPicture = false;
  int frames = 0;
  const int lostAt = 5;
  Microsoft::WRL::ComPtr<ID3D11Device> before, after, previewDevice, fontDevice;
  std::uint32_t previewWidth = 0;
  app::ProgramHooks hooks;
  hooks.everyRefresh = true;
  hooks.present = [&](IDXGISwapChain* chain, UINT sync, UINT flags) {
    if (!failNext) return chain->Present(sync, flags);
    failNext = false;
    return DXGI_ERROR_DEVICE_REMOVED;
  };
  hooks.afterFrame = [&](app::App& app, HWND window) {
    AppProbe probe(app);
    ++frames;
    if (frames == 2) probe.session().pictures().put(picture(64, 32));
    if (frames == lostAt) {
      before = probe.device();
      hadPicture = probe.previewTexture() != nullptr;  // on the old device
      failNext = true;
    }
    if (frames == lostAt + 1) {
      after = probe.device();
      probe.session().pictures().put(picture(48, 16));
    }
    if (frames == lostAt + 10) {
      ID3D11Texture2D* texture = probe.previewTexture();
      if (texture != nullptr) texture->GetDevice(&previewDevice);
      previewWidth = probe.textureWidth();
      auto* fonts = reinterpret_cast<ID3D11ShaderResourceView*>(ImGui::GetIO().Fonts->TexID);
      if (fonts != nullptr) fonts->GetDevice(&fontDevice);
      PostMessageW(window, WM_CLOSE, 0, 0);
    }
  };
  EXPECT_EQ(runOnThread(hooks), 0);

  EXPECT_TRUE(hadPicture) << "the first picture reached the preview";
  EXPECT_EQ(frames, lostAt + 10) << "the window drew on";
  ASSERT_NE(after.Get(), nullptr);
  EXPECT_NE(after.Get(), before.Get()) << "a new device";
  EXPECT_EQ(after->GetDeviceRemovedReason(), S_OK);
  EXPECT_EQ(previewDevice.Get(), after.Get()) << "the next picture is on the new device";
  EXPECT_EQ(previewWidth, 48u);
  EXPECT_EQ(fontDevice.Get(), after.Get()) << "so are Dear ImGui's objects";
  const std::vector<std::string> lines = log.linesStartingWith("[Graphics]");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Present failed with 0x887A0005"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("reason 0x"), std::string::npos) << lines[0];
}

// Moved to a monitor of another scale: the window takes the rectangle Windows suggests, and its
// text is rasterised again at the new size (not stretched), with the style and the layout scaled
// alike; and back again.
TEST(ProgramRunTest, FollowsAChangeOfTheWindowsDpi) {
  struct Look {
    float fontSize = 0, glyphHeight = 0, globalScale = 0, layoutScale = 0;
    ImVec2 padding;
    RECT rect = {};
  };
  auto look = [](app::App& app, HWND window) {
    Look l;
    ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
    const ImFontGlyph* glyph = font->FindGlyphNoFallback('M');
    l.fontSize = font->FontSize;
    l.glyphHeight = glyph != nullptr ? glyph->Y1 - glyph->Y0 : 0;
    l.globalScale = ImGui::GetIO().FontGlobalScale;
    l.layoutScale = AppProbe(app).scale();
    l.padding = ImGui::GetStyle().WindowPadding;
    GetWindowRect(window, &l.rect);
    return l;
  };
  RECT suggested = {40, 30, 40 + 900, 30 + 700};
  Look at96, at144, back;
  int frames = 0;
  app::ProgramHooks hooks;
  hooks.everyRefresh = true;
  hooks.afterFrame = [&](app::App& app, HWND window) {
    switch (++frames) {
      case 2:
        at96 = look(app, window);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
        break;
      case 4:
        at144 = look(app, window);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&at96.rect));
        break;
      case 6:
        back = look(app, window);
        PostMessageW(window, WM_CLOSE, 0, 0);
        break;
    }
  };
  EXPECT_EQ(runOnThread(hooks), 0);

  EXPECT_EQ(at144.rect.left, suggested.left);
  EXPECT_EQ(at144.rect.bottom, suggested.bottom);
  EXPECT_EQ(at144.rect.right - at144.rect.left, 900);
  EXPECT_NEAR(at144.fontSize, 1.5f * at96.fontSize, 1.0f);  // the built-in font keeps whole pixels
  EXPECT_NEAR(at144.glyphHeight, 1.5f * at96.glyphHeight, 1.0f) << "rasterised at the new size";
  EXPECT_EQ(at144.globalScale, 1.0f) << "not stretched";
  EXPECT_EQ(at144.layoutScale, 1.5f);
  EXPECT_EQ(at144.padding.x, 30.0f);
  EXPECT_EQ(at144.padding.y, 21.0f);

  EXPECT_EQ(back.rect.right - back.rect.left, at96.rect.right - at96.rect.left);
  EXPECT_EQ(back.fontSize, at96.fontSize);
  EXPECT_EQ(back.glyphHeight, at96.glyphHeight);
  EXPECT_EQ(back.layoutScale, 1.0f);
  EXPECT_EQ(back.padding.x, 20.0f) << "scales do not pile up";
}

std::filesystem::path moduleFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

TEST(ProgramRunTest, StreamOverUsbReachesTheRingAndClosingStopsItAfterTheWindowIsGone) {
  testsupport::startWinsock();
  phonesim::SimulatorOptions so;
  so.port = receiver::kStreamPort;
  so.clipPath = BRINDLE_CLIP_DIR "/clip_1280x720.264";
  phonesim::PhoneSimulator phone(so);
  ASSERT_TRUE(phone.start());
  usbmuxemu::UsbMuxEmulator service(usbmuxemu::EmulatorOptions{});
  ASSERT_TRUE(service.start()) << service.error();

  // Run where a settings file would land, and look for one there and beside the program.
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "brindle-app-run";
  std::filesystem::create_directories(folder);
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  std::error_code ignored;
  std::filesystem::remove(folder / "imgui.ini", ignored);
  std::filesystem::remove(moduleFolder() / "imgui.ini", ignored);

  ring::FrameRingReader ring;
  ring::RingPicture picture;
  HWND window = nullptr;
  int frames = 0;
  bool settingsOff = false;
  bool connectedWhileDrawing = false;
  auto deadline = Clock::now() + 30s;
  app::ProgramHooks hooks;
  hooks.afterFrame = [&](app::App& app, HWND w) {
    AppProbe probe(app);
    if (++frames == 1) {
      window = w;
      settingsOff = ImGui::GetIO().IniFilename == nullptr &&
                    (ImGui::GetIO().ConfigFlags & ImGuiConfigFlags_NavEnableKeyboard) != 0;
      probe.start();  // what the start button does
      return;
    }
    if (probe.session().state() == transport::State::Connected) connectedWhileDrawing = true;
    if (!picture.valid && (ring.isOpen() || ring.open(ring::kFrameRingName))) picture = ring.readLatest(0);
    if ((picture.valid && frames > 30) || Clock::now() > deadline) PostMessageW(w, WM_CLOSE, 0, 0);
  };
  int code = runOnThread(hooks);
  std::filesystem::current_path(previous);

  EXPECT_EQ(code, 0);
  EXPECT_TRUE(settingsOff);
  EXPECT_TRUE(connectedWhileDrawing);
  EXPECT_TRUE(picture.valid) << "no picture reached the ring";
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(testsupport::waitUntil(
      [&] {
        std::vector<phonesim::ConnectionRecord> c = phone.connections();
        return !c.empty() && c.back().closed;
      },
      5000ms))
      << "the stream was stopped at exit";
  EXPECT_FALSE(std::filesystem::exists(folder / "imgui.ini"));
  EXPECT_FALSE(std::filesystem::exists(moduleFolder() / "imgui.ini"));

  service.stop();
  phone.stop();
}

// Keys as the keyboard sends them, one at a time, to the window in front; Shift is held around
// the key that asks for it.
void pressKey(WORD key, bool shift = false) {
  auto input = [](WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
  };
  INPUT shiftDown = input(VK_SHIFT, false), shiftUp = input(VK_SHIFT, true);
  INPUT press[2] = {input(key, false), input(key, true)};
  if (shift) SendInput(1, &shiftDown, sizeof(INPUT));
  SendInput(2, press, sizeof(INPUT));
  if (shift) SendInput(1, &shiftUp, sizeof(INPUT));
  std::this_thread::sleep_for(150ms);
}

// Escape ends any entry and drops the focus; Shift+Tab then lands on the big start/stop button.
void focusBigButton() {
  for (int i = 0; i < 3; ++i) pressKey(VK_ESCAPE);
  pressKey(VK_TAB, true);
}

// Wi-Fi to an address whose listener never answers (its accept queue is full): Space again on the
// button that Space started, a second into a connect, brings the start button back at once, the
// connect cut short rather than left to its time-out. "At once": within 200 ms beyond the two
// frames the window needs to take the key and draw the button, as long as frames take here.
TEST(ProgramRunTest, StopDuringAWifiConnectThatIsNeverAnsweredBringsStartBackAtOnce) {
  testsupport::FullListener silent(receiver::kStreamPort);
  ASSERT_TRUE(silent.full()) << "port " << receiver::kStreamPort << " is taken";
  testsupport::LogCapture log;

  std::atomic<HWND> shown{nullptr};
  std::atomic<bool> running{false};
  std::atomic<std::int64_t> pressedNs{0}, startBackNs{0};
  std::vector<std::int64_t> frameEnds;  // the UI thread's until the run ends
  int stoppedFrames = 0;
  app::ProgramHooks hooks;
  hooks.afterFrame = [&](app::App& app, HWND window) {
    AppProbe probe(app);
    if (shown.load() == nullptr) {
      probe.chooseWifi("127.0.0.1");
      SetForegroundWindow(window);
      SetFocus(window);
      shown = window;
    }
    frameEnds.push_back(steadyNowNs());
    running = probe.session().running();
    // The frame after the one that stopped the stream draws the start button.
    if (pressedNs.load() != 0 && !running && ++stoppedFrames == 2) startBackNs = frameEnds.back();
  };
  std::thread user([&] {
    if (!testsupport::waitUntil([&] { return shown.load() != nullptr; }, 30000ms)) return;
    focusBigButton();
    pressKey(VK_SPACE);
    if (testsupport::waitUntil([&] { return running.load(); }, 5000ms) &&
        log.waitForCount("[WifiTransport] connect attempt", 1, 5000ms)) {
      std::this_thread::sleep_for(1000ms);  // well inside the 5 s the connect may take
      pressedNs = steadyNowNs();  // the focus stays on the button that now reads Stop
      pressKey(VK_SPACE);
      testsupport::waitUntil([&] { return startBackNs.load() != 0; }, 15000ms);
    }
    PostMessageW(shown, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(runOnThread(hooks), 0);
  user.join();

  ASSERT_NE(pressedNs.load(), 0) << "the stream never started from the keyboard";
  ASSERT_NE(startBackNs.load(), 0) << "the start button did not come back";
  // The longest frame while the keys before Space were taken.
  std::int64_t frameNs = 0;
  for (std::size_t i = 1; i < frameEnds.size() && frameEnds[i] < pressedNs; ++i) {
    if (frameEnds[i - 1] > pressedNs - 500000000) frameNs = std::max(frameNs, frameEnds[i] - frameEnds[i - 1]);
  }
  const double ms = double(startBackNs - pressedNs) / 1e6, frameMs = double(frameNs) / 1e6;
  std::printf("start button back %.0f ms after Stop was pressed during the connect (frames of up to %.0f ms)\n", ms,
              frameMs);
  EXPECT_LT(ms, 200.0 + 2 * frameMs);
  EXPECT_EQ(log.count("[WifiTransport] connect() failed"), 0u) << "the connect ran to its time-out";
}

}  // namespace
