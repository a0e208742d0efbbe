// Host names as browsers send them (SNI, CONNECT): the canonical form, the no-inspect patterns
// and the certificate minted for every name that is accepted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "tls/certificate_builder.h"
#include "tls/host_name.h"
#include "tls/host_pattern.h"

using namespace rw::tls;
using rw::fuzz::Check;

namespace {

// A key made once: minting, not key generation, is under test.
EVP_PKEY* Key() {
  static const EvpPkeyPtr key = CertificateBuilder::NewKey();
  return key.get();
}

void CheckCanonical(std::string_view input) {
  const std::optional<CanonicalHost> host = CanonicalHostName(input);
  if (!host) {
    return;
  }
  const std::string& name = host->name;
  Check(!name.empty() && name.size() <= 253 && name.back() != '.');
  for (char c : name) {
    Check(!(c >= 'A' && c <= 'Z') && c != '\0' && c != ',' && c != ' ' && c != '*');
  }
  // Canonical names are fixed points.
  const std::optional<CanonicalHost> again = CanonicalHostName(name);
  Check(again && again->name == name && again->ipLiteral == host->ipLiteral);

  CertificateBuilder builder;
  builder.SetSubject(name.size() <= 64 ? name : std::string());
  builder.SetIssuer(nullptr);
  builder.SetValidity(std::chrono::hours(1), std::chrono::hours(24));
  builder.SetPublicKey(Key());
  builder.AddSubjectAltName(name, host->ipLiteral);
  Check(builder.Sign(Key()) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckCanonical(input);
  const HostPatternList::ParseResult parsed = HostPatternList::Parse(input);
  Check(parsed.Ok() || parsed.patterns.Empty());
  // Every accepted exact entry keeps its own host.
  if (parsed.Ok() && input.find(',') == std::string_view::npos &&
      input.find('*') == std::string_view::npos && CanonicalHostName(input)) {
    Check(parsed.patterns.Matches(input));
  }
  return 0;
}
