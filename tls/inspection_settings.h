// What HTTPS inspection runs with, prepared once at start on the main thread: the certificate
// authority, the leaf minter, the trust store for verifying servers and the hosts left as plain
// tunnels. Handed by value to whoever runs the connections; its parts are shared and safe to use
// from any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tls/certificate_authority.h"
#include "tls/host_pattern.h"
#include "tls/leaf_minter.h"
#include "tls/trust_store.h"

namespace rw::tls {

struct InspectionSettings {
  std::shared_ptr<const CertificateAuthority> authority;  // null: inspection is off
  std::shared_ptr<LeafMinter> leaves;
  std::shared_ptr<const TrustStore> serverTrust;
  HostPatternList noInspect;

  bool On() const { return authority != nullptr; }
};

// Where the parts come from.
struct InspectionRequest {
  std::filesystem::path caDirectory;  // <settings dir>/ca
  std::string upstreamCaFile;         // empty: the system's trust store alone
  std::string noInspectHosts;         // comma-separated host patterns
};

struct InspectionSetup {
  InspectionSettings settings;  // On() only when `error` is empty
  std::string error;            // names the file or entry and what is wrong
};

// Loads or creates the authority, makes the leaf key, builds the trust store and parses the
// patterns; the first failure stops it.
InspectionSetup PrepareInspection(const InspectionRequest& request);

}  // namespace rw::tls
