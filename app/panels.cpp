// The main window and the help window: status bar, connect panel, statistics line. The preview
// between them is in preview_panel_win.cpp. Everything is drawn afresh each frame from App's members
// and its session.
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/state_pill.h"
#include "common/steady_clock.h"
#include "i18n/languages.h"
#include "i18n/localizer.h"
#include "i18n/rtl_text.h"
#include "imgui.h"

namespace app {

namespace {

std::string tr(const char* key) { return i18n::Localizer::instance().translate(key); }

// The list's names as drawn: a right-to-left name is shaped and ordered as the translated texts
// are, whatever the current language. The names never change, so that is done once.
const char* languageItem(void*, int index) {
  static const std::vector<std::string> shown = [] {
    std::vector<std::string> names;
    const char* name = nullptr;
    for (int i = 0; i18n::languageName(i, &name); ++i) {
      const char* code = i18n::kLanguages[i].code;
      names.push_back(i18n::isRtlLanguage(code) ? i18n::prepareRtlText(name, i18n::needsArabicShaping(code)) : name);
    }
    return names;
  }();
  return index >= 0 && static_cast<std::size_t>(index) < shown.size() ? shown[static_cast<std::size_t>(index)].c_str()
                                                                       : nullptr;
}

// The longest prefix of `text` that fits `size` - 1 bytes and does not end inside a UTF-8
// sequence, so the field never shows half a character.
void copyCut(const std::string& text, char* out, std::size_t size) {
  std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n < text.size()) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  text.copy(out, n);
  out[n] = '\0';
}

struct ButtonColors {
  ImU32 button, hovered, active, text;
};

constexpr ButtonColors kStartColors = {IM_COL32(43, 92, 229, 255), IM_COL32(58, 110, 245, 255),
                                       IM_COL32(35, 78, 200, 255), IM_COL32(255, 255, 255, 255)};
constexpr ButtonColors kStopColors = {IM_COL32(217, 58, 58, 255), IM_COL32(230, 74, 74, 255),
                                      IM_COL32(180, 48, 48, 255), IM_COL32(255, 255, 255, 255)};

struct HelpSection {
  const char* title;
  const char* body;
};

constexpr HelpSection kHelpSections[] = {
    {"help.section.quickstart", "help.body.quickstart"},
    {"help.section.connect", "help.body.connect"},
    {"help.section.useapps", "help.body.useapps"},
    {"help.section.audio", "help.body.audio"},
    {"help.section.troubleshoot", "help.body.troubleshoot"},
};

ImU32 toImColor(PillColor c) { return IM_COL32(c.r, c.g, c.b, c.a); }

// A paragraph wrapped at the window's width. Right-to-left ones are wrapped in logical order,
// so they read from the top, and each line is right-aligned.
void drawParagraph(const i18n::Paragraph& paragraph) {
  if (!paragraph.rightToLeft) {
    ImGui::TextWrapped("%s", paragraph.text.c_str());
    return;
  }
  ImFont* font = ImGui::GetFont();
  const float scale = ImGui::GetFontSize() / font->FontSize;
  auto advance = [font, scale](char32_t c) {
    // Dear ImGui draws what its characters cannot hold as the replacement character.
    const ImWchar shown = c <= IM_UNICODE_CODEPOINT_MAX ? ImWchar(c) : ImWchar(IM_UNICODE_CODEPOINT_INVALID);
    return font->GetCharAdvance(shown) * scale;
  };
  const float width = ImGui::GetContentRegionAvail().x;
  const float left = ImGui::GetCursorPosX();
  const std::vector<std::string> lines = i18n::wrapRtlParagraph(paragraph.text, width, advance);
  // The lines sit as close as those of a wrapped text; the last one keeps the usual spacing.
  ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(ImGui::GetStyle().ItemSpacing.x, 0.0f));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i + 1 == lines.size()) ImGui::PopStyleVar();
    const float lineWidth = ImGui::CalcTextSize(lines[i].c_str()).x;
    ImGui::SetCursorPosX(left + (lineWidth < width ? width - lineWidth : 0.0f));
    ImGui::TextUnformatted(lines[i].c_str());
  }
}

}  // namespace

void App::frame() {
  const ImGuiViewport* viewport = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(viewport->WorkPos);
  ImGui::SetNextWindowSize(viewport->WorkSize);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, px(24, 18));
  const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                 ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings |
                                 ImGuiWindowFlags_NoBringToFrontOnFocus;
  ImGui::Begin("##main", nullptr, flags);  // drawn whatever Begin says: it never collapses

  drawStatusBar();
  drawNotices();
  ImGui::Dummy(px(0, 6));
  drawPreview();
  ImGui::Dummy(px(0, 10));
  drawConnectPanel();
  ImGui::Dummy(px(0, 6));

  const receiver::StreamStats stats = session_.stats();
  char line[256];
  std::snprintf(line, sizeof(line), "frames: %llu   keys: %llu   %.1f kbps   preview: %.1f fps",
                static_cast<unsigned long long>(stats.frames), static_cast<unsigned long long>(stats.keys), stats.kbps,
                previewRate_.rate(steadyNowNs()));
  ImGui::PushStyleColor(ImGuiCol_Text, IM_COL32(160, 160, 170, 255));
  ImGui::TextUnformatted(line);
  ImGui::PopStyleColor();

  ImGui::End();
  ImGui::PopStyleVar();

  drawHelpWindow();
}

void App::drawStatusBar() {
  ImGui::PushFont(nullptr);  // the default font
  ImGui::SetWindowFontScale(1.6f);
  ImGui::TextUnformatted(tr("app.name").c_str());
  ImGui::SetWindowFontScale(1.0f);
  ImGui::SameLine();

  const StatePill pill = statePill(static_cast<int>(session_.state()));
  const std::string label = tr(pill.key);
  const ImVec2 text = ImGui::CalcTextSize(label.c_str(), nullptr, false, -1.0f);
  const float w = text.x + px(46.0f);
  const float h = text.y + px(12.0f);

  // Pill, gap and square help button end one item spacing short of the right edge.
  const float available = ImGui::GetContentRegionAvail().x;
  ImGui::SameLine(0.0f, available - w - h - px(8.0f));

  const ImVec2 p = ImGui::GetCursorScreenPos();
  ImDrawList* draw = ImGui::GetWindowDrawList();
  draw->AddRectFilled(p, ImVec2(p.x + w, p.y + h), IM_COL32(255, 255, 255, 15), h / 2.0f);
  const ImVec2 centre(p.x + px(19.0f), p.y + h / 2.0f);
  draw->AddCircleFilled(centre, px(5.0f), toImColor(pill.dot));
  draw->AddCircle(centre, px(7.0f), toImColor(pill.halo), 0, px(2.0f));
  draw->AddText(ImVec2(p.x + px(30.0f), p.y + px(6.0f)), IM_COL32(240, 240, 245, 255), label.c_str());
  ImGui::Dummy(ImVec2(w, h));

  ImGui::SameLine(0.0f, px(8.0f));
  ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, h / 2.0f);
  if (ImGui::Button("?", ImVec2(h, h))) showHelp_ = true;
  if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", tr("help.title").c_str());
  ImGui::PopStyleVar();
  ImGui::PopFont();
}

// Under the state line: why the running chain cannot reach the camera or decode, with what helps.
void App::drawNotices() {
  const char* keys[2] = {};
  std::size_t count = 0;
  switch (session_.ringFault()) {
    case ring::RingFault::None: break;
    case ring::RingFault::NameTaken: keys[count++] = "notice.camera.name_taken"; break;
    case ring::RingFault::OtherRing: keys[count++] = "notice.camera.in_use"; break;
    case ring::RingFault::NoMemory: keys[count++] = "notice.camera.no_memory"; break;
    case ring::RingFault::Absent: break;  // only attach reports it
  }
  if (session_.decoderMissing()) keys[count++] = "notice.decoder.missing";
  ImGui::PushStyleColor(ImGuiCol_Text, IM_COL32(240, 170, 0, 255));
  for (std::size_t i = 0; i < count; ++i) drawParagraph(i18n::Localizer::instance().paragraph(keys[i]));
  ImGui::PopStyleColor();
}

void App::drawConnectPanel() {
  ImGui::TextUnformatted(tr("settings.language").c_str());
  ImGui::SameLine();
  ImGui::SetNextItemWidth(px(180.0f));
  int language = languageIndex_;
  if (ImGui::Combo("##lang", &language, languageItem, nullptr, static_cast<int>(i18n::kLanguageCount)) &&
      language != languageIndex_ && language >= 0 && language < static_cast<int>(i18n::kLanguageCount)) {
    languageIndex_ = language;
    i18n::Localizer::instance().setLanguage(i18n::kLanguages[language].code);  // texts below follow at once
  }

  ImGui::TextUnformatted(tr("settings.transport").c_str());
  ImGui::SameLine();
  ImGui::SetNextItemWidth(px(180.0f));
  const char* transports[] = {"USB", "Wi-Fi"};
  int transport = transportIndex_;
  if (ImGui::Combo("##transport", &transport, transports, 2)) transportIndex_ = transport;

  if (transportIndex_ == 1) {
    ImGui::TextUnformatted(tr("connect.transport.wifi").c_str());
    ImGui::SameLine();
    services_ = discovery_.hosts();

    ImGui::SetNextItemWidth(px(240.0f));
    if (ImGui::BeginCombo("##hostCombo", host_.empty() ? "(select iPhone)" : host_.c_str())) {
      for (std::size_t i = 0; i < services_.size(); ++i) {
        const transport::DiscoveredHost& service = services_[i];
        char label[128];
        std::snprintf(label, sizeof(label), "%s  (%s)", service.name.c_str(), service.ip.c_str());
        ImGui::PushID(static_cast<int>(i));  // two ports of one phone read alike
        if (ImGui::Selectable(label, host_ == service.ip)) host_ = service.ip;
        ImGui::PopID();
      }
      if (!services_.empty()) ImGui::Separator();
      char field[64];
      copyCut(host_, field, sizeof(field));
      ImGui::SetNextItemWidth(px(200.0f));
      if (ImGui::InputTextWithHint("manual IP", "192.168.1.42", field, sizeof(field))) host_ = field;
      ImGui::EndCombo();
    }
    ImGui::SameLine();
    ImGui::TextDisabled("(%d found)", static_cast<int>(services_.size()));
  }

  ImGui::Dummy(px(0, 8));

  const bool running = session_.running();
  // One identity for Start and Stop: keyboard focus stays on the button when its label changes,
  // so the key that started the stream stops it.
  const std::string label = tr(running ? "connect.button.stop" : "connect.button.start") + "###connect";
  const ButtonColors& colors = running ? kStopColors : kStartColors;
  ImGui::PushStyleColor(ImGuiCol_Button, colors.button);
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, colors.hovered);
  ImGui::PushStyleColor(ImGuiCol_ButtonActive, colors.active);
  ImGui::PushStyleColor(ImGuiCol_Text, colors.text);
  ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, px(10.0f));
  if (ImGui::Button(label.c_str(), ImVec2(ImGui::GetContentRegionAvail().x, px(46.0f)))) {
    if (running) {
      session_.stop();
    } else {
      start();
    }
  }
  ImGui::PopStyleVar();
  ImGui::PopStyleColor(4);
}

void App::drawHelpWindow() {
  if (!showHelp_) return;
  ImGui::SetNextWindowSize(px(620, 560), ImGuiCond_FirstUseEver);
  // One window whatever the language: the title is shown, "###help" is its identity.
  const std::string title = tr("help.title") + "###help";
  if (ImGui::Begin(title.c_str(), &showHelp_, ImGuiWindowFlags_NoCollapse)) {
    for (const HelpSection& section : kHelpSections) {
      if (ImGui::CollapsingHeader(tr(section.title).c_str(), ImGuiTreeNodeFlags_DefaultOpen)) {
        drawParagraph(i18n::Localizer::instance().paragraph(section.body));
        ImGui::Dummy(px(0, 6));
      }
    }
    ImGui::Separator();
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled));
    drawParagraph(i18n::Localizer::instance().paragraph("help.footer"));
    ImGui::PopStyleColor();
  }
  ImGui::End();
}

}  // namespace app
