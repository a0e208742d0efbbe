// The Settings page's HTTPS inspection values as the user edits them, and the steps that load,
// save and put them into force for new connections. Open tunnels keep what they started with.
// User-interface thread only.
#pragma once

#include <filesystem>
#include <string>

#include "app/settings_store.h"
#include "tls/certificate_authority.h"

namespace rw::app {

class ProxyApp;

class InspectionForm {
 public:
  bool inspectHttps = false;
  std::string noInspectHosts;  // comma-separated host patterns
  std::string upstreamCaFile;  // extra PEM certificates for verifying servers

  void Load(const SettingsStore& settings);
  // The values as the fields hold them, trimmed.
  void Save(SettingsStore& settings) const;

  // On: loads or creates the authority in the settings folder's ca/ and hands the prepared
  // inspection to `app`. Off: inspection stops; a named CA file and the host list are still
  // checked, since they were given to be used. Empty when it went well, else the message to show;
  // inspection is then off.
  std::string Apply(ProxyApp& app) const;
};

// Writes the authority's certificate, PEM, to `path` (the key is never written). Empty when
// written, else what went wrong.
std::string ExportCaCertificate(const tls::CertificateAuthority& authority,
                                const std::filesystem::path& path);

}  // namespace rw::app
