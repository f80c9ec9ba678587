// Drives App's window in-process: a real Direct3D 11 device (no window), a Dear ImGui context
// without platform back ends, and synthetic mouse and keyboard input fed frame by frame. Widgets
// are found by their Dear ImGui identifiers: the item-locating debug hook draws the rectangle of
// the one item asked for on the foreground list, which the harness reads back. Anti-aliasing is
// off, so every vertex of a shape carries the shape's own colour. Texts are read back from the
// glyphs drawn, with the program's fonts (Debian's, under the Windows names).
#pragma once

#include <d3d11.h>
#include <wrl/client.h>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/app_probe.h"
#include "support/fake_dns_sd.h"

class PanelHarness {
 public:
  PanelHarness();

  bool ready() const { return device_ != nullptr; }
  ID3D11Device* device() const { return device_.Get(); }
  ID3D11DeviceContext* context() const { return context_.Get(); }

  // One Dear ImGui frame of App (new frame, App::frame, render).
  void frame(app::App& app);
  void frames(app::App& app, int count);

  // The glyphs the last frame drew into the window, in drawing order, as UTF-8. Spaces and line
  // breaks draw nothing, so they are absent; compare with withoutSpaces of the expected text.
  // With `within`, only the glyphs whose middle lies inside it.
  static std::string drawnText(const char* windowName, const ImRect* within = nullptr);
  // The same glyphs with where each was drawn.
  struct Glyph {
    unsigned codePoint;
    ImRect box;
  };
  static std::vector<Glyph> drawnGlyphs(const char* windowName);
  static std::string withoutSpaces(const std::string& text);

  // The rectangle of item `id` as drawn by the next frame, if it was drawn and visible.
  std::optional<ImRect> locate(app::App& app, ImGuiID id);
  // The rectangle the item-locating hook drew in the frame that just ended, from the first
  // `outlineVertices` vertices in its colour: 16 as the harness draws (four quads), 8 with
  // anti-aliased lines as the program draws.
  static std::optional<ImRect> locatedRect(int outlineVertices);

  // Mouse: move, press, release over three frames; the mouse stays where it clicked.
  void click(app::App& app, ImVec2 at);
  void moveMouse(app::App& app, ImVec2 to);
  // A key pressed and released (two frames).
  void pressKey(app::App& app, ImGuiKey key);
  // One character per frame into the active text field.
  void type(app::App& app, const char* text);

  // Identifiers as Dear ImGui derives them inside a window (optionally under PushID(index)).
  static ImGuiWindow* window(const char* name);
  static ImGuiID idIn(const char* windowName, const char* label);
  static ImGuiID idIn(const char* windowName, int index, const char* label);

  // Vertices of the window's draw list with exactly this colour, optionally inside `within`.
  static int countColor(const char* windowName, ImU32 color, const ImRect* within = nullptr);
  // Their bounding box; empty when there are none.
  static std::optional<ImRect> boundsOfColor(const char* windowName, ImU32 color, const ImRect* within = nullptr);
  // Whether any draw command of the window samples `texture`.
  static bool drawsTexture(const char* windowName, ImTextureID texture);

  // A 4-byte-per-pixel texture's pixels, tightly packed, through a staging copy; empty on failure.
  static std::vector<std::uint8_t> readPixels(ID3D11Device* device, ID3D11DeviceContext* context,
                                              ID3D11Texture2D* texture);

 private:
  struct ContextDestroy {
    void operator()(ImGuiContext* context) const { ImGui::DestroyContext(context); }
  };

  Microsoft::WRL::ComPtr<ID3D11Device> device_;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
  std::unique_ptr<ImGuiContext, ContextDestroy> imgui_;  // destroyed first, as declared last
};

inline ImVec2 centreOf(const ImRect& r) { return ImVec2((r.Min.x + r.Max.x) / 2, (r.Min.y + r.Max.y) / 2); }

// A real App in English for the harness to draw, its discovery asking the test's own DNS-SD.
class AppPanelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Clicks item `id` (the middle of it, or near the left edge for text fields); fails the test
  // when the item is not drawn.
  void clickItem(ImGuiID id, bool textField = false) {
    std::optional<ImRect> r = h.locate(*app, id);
    ASSERT_TRUE(r.has_value()) << "item not drawn";
    ImVec2 at = textField ? ImVec2(r->Min.x + 10, (r->Min.y + r->Max.y) / 2) : centreOf(*r);
    h.click(*app, at);
  }

  PanelHarness h;
  fakedns::FakeDnsSd fake;
  std::unique_ptr<app::App> app;
  std::unique_ptr<AppProbe> probe;
};
