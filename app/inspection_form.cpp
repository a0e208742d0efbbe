#include "app/inspection_form.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <fstream>
#include <memory>

#include "app/proxy_app.h"
#include "app/settings_schema.h"
#include "text/text_steps.h"
#include "tls/host_pattern.h"
#include "tls/inspection_settings.h"
#include "tls/trust_store.h"

namespace rw::app {

void InspectionForm::Load(const SettingsStore& settings) {
  inspectHttps = FlagIsOn(text::Trim(settings.ReadSetting(setting::kInspectHttps.name)));
  noInspectHosts = text::Trim(settings.ReadSetting(setting::kNoInspectHosts.name));
  upstreamCaFile = text::Trim(settings.ReadSetting(setting::kUpstreamCaFile.name));
}

void InspectionForm::Save(SettingsStore& settings) const {
  settings.WriteSetting(setting::kInspectHttps.name, inspectHttps ? "1" : "0");
  settings.WriteSetting(setting::kNoInspectHosts.name, text::Trim(noInspectHosts));
  settings.WriteSetting(setting::kUpstreamCaFile.name, text::Trim(upstreamCaFile));
}

std::string InspectionForm::Apply(ProxyApp& app) const {
  const std::string hosts = text::Trim(noInspectHosts);
  const std::string caFile = text::Trim(upstreamCaFile);
  if (inspectHttps) {
    tls::InspectionSetup prepared = tls::PrepareInspection(
        tls::InspectionRequest{app.Settings().Directory() / "ca", caFile, hosts});
    if (!prepared.error.empty()) {
      app.SetInspection({});
      return "HTTPS inspection cannot start: " + prepared.error;
    }
    // Setting up the TLS contexts can still fail; inspection is then off.
    if (const std::string contexts = app.SetInspection(std::move(prepared.settings));
        !contexts.empty()) {
      return "HTTPS inspection cannot start: " + contexts;
    }
    return {};
  }
  app.SetInspection({});
  if (!caFile.empty()) {
    if (const tls::TrustStore::LoadResult trust = tls::TrustStore::Load(caFile);
        trust.store == nullptr) {
      return "Trusted CA file for servers: " + trust.error;
    }
  }
  if (const tls::HostPatternList::ParseResult parsed = tls::HostPatternList::Parse(hosts);
      !parsed.Ok()) {
    return "Hosts kept as tunnels: " + parsed.error;
  }
  return {};
}

std::string ExportCaCertificate(const tls::CertificateAuthority& authority,
                                const std::filesystem::path& path) {
  std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), &BIO_free);
  if (memory == nullptr || PEM_write_bio_X509(memory.get(), authority.Certificate()) != 1) {
    return "cannot encode the CA certificate";
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(memory.get(), &data);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, size);
  out.close();
  if (!out) {
    return "cannot write " + path.string();
  }
  return {};
}

}  // namespace rw::app
