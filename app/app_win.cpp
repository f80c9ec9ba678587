#include "app/app_win.h"

#include <d3d11.h>

#include "i18n/languages.h"
#include "i18n/localizer.h"

namespace app {

App::App(ID3D11Device* device, ID3D11DeviceContext* context) : preview_(device, context) { init(); }

App::App(ID3D11Device* device, ID3D11DeviceContext* context, const transport::DnsSdFunctions& dnsSd)
    : discovery_(dnsSd), preview_(device, context) {
  init();
}

void App::init() {
  std::string language = i18n::Localizer::instance().currentLanguage();
  for (std::size_t i = 0; i < i18n::kLanguageCount; ++i) {
    if (language == i18n::kLanguages[i].code) {
      languageIndex_ = static_cast<std::int32_t>(i);
      break;
    }
  }
  discovery_.start();
}

App::~App() {
  session_.stop();
  preview_.release();
  session_.pictures().clear();
  std::string().swap(host_);
  std::vector<transport::DiscoveredHost>().swap(services_);
  discovery_.stop();
}

void App::start() {
  session::Link link;
  if (transportIndex_ == 1) {
    link.kind = session::Link::Kind::Wifi;
    link.host = host_;
  }
  session_.start(link);
}

}  // namespace app
