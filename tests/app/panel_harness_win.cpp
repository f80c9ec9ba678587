#include "panel_harness_win.h"

#include <cfloat>
#include <cstring>
#include <wrl/client.h>
#include <map>
#include <utility>

#include "i18n/font_loader.h"
#include "i18n/localizer.h"

namespace {

constexpr ImU32 kLocateColor = IM_COL32(0, 255, 0, 255);  // what the locating hook draws with

// Debian's fonts under the program's names, built once for every context of the process.
ImFontAtlas* sharedAtlas() {
  static ImFontAtlas* atlas = [] {
    auto* fonts = new ImFontAtlas();
    i18n::loadFonts(fonts, BRINDLE_TEST_FONTS "/all");
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    return fonts;
  }();
  return atlas;
}

void appendUtf8(std::string& out, unsigned c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

}  // namespace

PanelHarness::PanelHarness() {
  const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
  HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                                 device_.GetAddressOf(), nullptr, context_.GetAddressOf());
  if (FAILED(hr)) {
    D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                      device_.ReleaseAndGetAddressOf(), nullptr, context_.ReleaseAndGetAddressOf());
  }

  imgui_.reset(ImGui::CreateContext(sharedAtlas()));
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.DisplaySize = ImVec2(704, 721);  // the client area of the 720 x 760 window
  io.DeltaTime = 1.0f / 60.0f;
  io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
  ImGui::StyleColorsDark();
  ImGuiStyle& style = ImGui::GetStyle();
  style.WindowPadding = ImVec2(20, 14);
  style.ItemSpacing = ImVec2(12, 10);
  style.FrameRounding = 8;
  style.AntiAliasedLines = false;
  style.AntiAliasedFill = false;
}

void PanelHarness::frame(app::App& app) {
  ImGui::NewFrame();
  app.frame();
  ImGui::Render();
}

std::vector<PanelHarness::Glyph> PanelHarness::drawnGlyphs(const char* windowName) {
  std::vector<Glyph> drawn;
  ImGuiWindow* w = window(windowName);
  if (w == nullptr) return drawn;
  // Every visible glyph by the top-left corner of its place in the atlas.
  ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
  static std::map<std::pair<float, float>, const ImFontGlyph*> glyphs;
  static ImFont* mappedFont = nullptr;
  if (mappedFont != font) {
    glyphs.clear();
    for (const ImFontGlyph& g : font->Glyphs) {
      if (g.Visible) glyphs.emplace(std::make_pair(g.U0, g.V0), &g);
    }
    mappedFont = font;
  }
  // A glyph is four vertices: top-left, top-right, bottom-right, bottom-left.
  const ImVector<ImDrawVert>& v = w->DrawList->VtxBuffer;
  for (int i = 0; i + 3 < v.Size;) {
    auto it = glyphs.find(std::make_pair(v[i].uv.x, v[i].uv.y));
    if (it != glyphs.end() && v[i + 2].uv.x == it->second->U1 && v[i + 2].uv.y == it->second->V1) {
      drawn.push_back({it->second->Codepoint, ImRect(v[i].pos, v[i + 2].pos)});
      i += 4;
    } else {
      ++i;
    }
  }
  return drawn;
}

std::string PanelHarness::drawnText(const char* windowName, const ImRect* within) {
  std::string text;
  for (const Glyph& g : drawnGlyphs(windowName)) {
    if (within == nullptr || within->Contains(g.box.GetCenter())) appendUtf8(text, g.codePoint);
  }
  return text;
}

std::string PanelHarness::withoutSpaces(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\n' && c != '\t') out += c;
  }
  return out;
}

void PanelHarness::frames(app::App& app, int count) {
  for (int i = 0; i < count; ++i) frame(app);
}

std::optional<ImRect> PanelHarness::locate(app::App& app, ImGuiID id) {
  ImGui::DebugLocateItem(id);
  frame(app);
  return locatedRect(16);
}

std::optional<ImRect> PanelHarness::locatedRect(int outlineVertices) {
  // The rectangle (expanded by 3) comes first; then a line towards the mouse.
  const ImDrawList* list = ImGui::GetForegroundDrawList();
  ImRect bounds(FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX);
  int seen = 0;
  for (const ImDrawVert& v : list->VtxBuffer) {
    if (v.col != kLocateColor) continue;
    bounds.Add(v.pos);
    if (++seen == outlineVertices) break;
  }
  if (seen < outlineVertices) return std::nullopt;
  bounds.Expand(-3.0f);
  return bounds;
}

void PanelHarness::moveMouse(app::App& app, ImVec2 to) {
  ImGui::GetIO().AddMousePosEvent(to.x, to.y);
  frame(app);
}

void PanelHarness::click(app::App& app, ImVec2 at) {
  ImGuiIO& io = ImGui::GetIO();
  io.AddMousePosEvent(at.x, at.y);
  frame(app);
  io.AddMouseButtonEvent(0, true);
  frame(app);
  io.AddMouseButtonEvent(0, false);
  frame(app);
}

void PanelHarness::pressKey(app::App& app, ImGuiKey key) {
  ImGui::GetIO().AddKeyEvent(key, true);
  frame(app);
  ImGui::GetIO().AddKeyEvent(key, false);
  frame(app);
}

void PanelHarness::type(app::App& app, const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    ImGui::GetIO().AddInputCharacter(static_cast<unsigned char>(*c));
    frame(app);
  }
}

ImGuiWindow* PanelHarness::window(const char* name) { return ImGui::FindWindowByName(name); }

ImGuiID PanelHarness::idIn(const char* windowName, const char* label) {
  return ImHashStr(label, 0, ImHashStr(windowName));
}

ImGuiID PanelHarness::idIn(const char* windowName, int index, const char* label) {
  return ImHashStr(label, 0, ImHashData(&index, sizeof(index), ImHashStr(windowName)));
}

int PanelHarness::countColor(const char* windowName, ImU32 color, const ImRect* within) {
  ImGuiWindow* w = window(windowName);
  if (w == nullptr) return 0;
  int count = 0;
  for (const ImDrawVert& v : w->DrawList->VtxBuffer) {
    if (v.col == color && (within == nullptr || within->Contains(v.pos))) ++count;
  }
  return count;
}

std::optional<ImRect> PanelHarness::boundsOfColor(const char* windowName, ImU32 color, const ImRect* within) {
  ImGuiWindow* w = window(windowName);
  if (w == nullptr) return std::nullopt;
  ImRect bounds(FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX);
  bool any = false;
  for (const ImDrawVert& v : w->DrawList->VtxBuffer) {
    if (v.col != color || (within != nullptr && !within->Contains(v.pos))) continue;
    bounds.Add(v.pos);
    any = true;
  }
  if (!any) return std::nullopt;
  return bounds;
}

bool PanelHarness::drawsTexture(const char* windowName, ImTextureID texture) {
  ImGuiWindow* w = window(windowName);
  if (w == nullptr) return false;
  for (const ImDrawCmd& cmd : w->DrawList->CmdBuffer) {
    if (cmd.TextureId == texture && cmd.ElemCount > 0) return true;
  }
  return false;
}

void AppPanelTest::SetUp() {
  ASSERT_TRUE(h.ready()) << "no Direct3D 11 device";
  i18n::Localizer::instance().setLanguage("en");
  app = std::make_unique<app::App>(h.device(), h.context(), fake.functions());
  probe = std::make_unique<AppProbe>(*app);
}

void AppPanelTest::TearDown() {
  probe.reset();
  app.reset();
  fake.drain();
  i18n::Localizer::instance().setLanguage("en");
}

std::vector<std::uint8_t> PanelHarness::readPixels(ID3D11Device* device, ID3D11DeviceContext* context,
                                                   ID3D11Texture2D* texture) {
  if (texture == nullptr) return {};
  D3D11_TEXTURE2D_DESC desc;
  texture->GetDesc(&desc);
  desc.Usage = D3D11_USAGE_STAGING;
  desc.BindFlags = 0;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  desc.MiscFlags = 0;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> staging;
  if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging))) return {};
  context->CopyResource(staging.Get(), texture);
  D3D11_MAPPED_SUBRESOURCE mapped;
  if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return {};
  std::vector<std::uint8_t> pixels(std::size_t(desc.Width) * desc.Height * 4);
  for (UINT y = 0; y < desc.Height; ++y) {
    std::memcpy(&pixels[std::size_t(y) * desc.Width * 4],
                static_cast<const std::uint8_t*>(mapped.pData) + std::size_t(y) * mapped.RowPitch, desc.Width * 4);
  }
  context->Unmap(staging.Get(), 0);
  return pixels;
}
