#include "tls/inspection_settings.h"

namespace rw::tls {

InspectionSetup PrepareInspection(const InspectionRequest& request) {
  InspectionSetup setup;
  HostPatternList::ParseResult patterns = HostPatternList::Parse(request.noInspectHosts);
  if (!patterns.Ok()) {
    setup.error = "no-inspect hosts: " + patterns.error;
    return setup;
  }
  TrustStore::LoadResult trust = TrustStore::Load(request.upstreamCaFile);
  if (trust.store == nullptr) {
    setup.error = "upstream CA file " + trust.error;
    return setup;
  }
  CertificateAuthority::LoadResult authority =
      CertificateAuthority::LoadOrCreate(request.caDirectory);
  if (authority.authority == nullptr) {
    setup.error = "certificate authority " + authority.error;
    return setup;
  }
  LeafMinter::CreateResult minter = LeafMinter::Create(authority.authority);
  if (minter.minter == nullptr) {
    setup.error = minter.error;
    return setup;
  }
  setup.settings.noInspect = std::move(patterns.patterns);
  setup.settings.serverTrust = std::move(trust.store);
  setup.settings.leaves = std::move(minter.minter);
  setup.settings.authority = std::move(authority.authority);
  return setup;
}

}  // namespace rw::tls
