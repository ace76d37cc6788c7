#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavro {

// Authenticode: who signed a program, and whether a copy of it still carries that signature.
// Under Wine, WinVerifyTrust checks a file against its signature but not that the signer chains
// to a trusted root; the signer comparison below is what tells one signer from another there.

// The signer certificate (DER) of a program file's Authenticode signature; empty when the file
// carries none. problem tells why a file could not be read or its signature not be decoded.
std::vector<unsigned char> signerCertificateOf(const std::filesystem::path& program,
                                               std::string& problem);

// Why copy is not a program signed by signer: WinVerifyTrust refuses it (unsigned, changed since
// it was signed, a damaged signature; on Windows also a signer nobody trusts), or another
// certificate signed it. Empty when it is.
std::string signedCopyProblem(const std::filesystem::path& copy,
                              const std::vector<unsigned char>& signer);

// Where this program is signed, the copy of it kept in Program Files (which Apps & features
// starts elevated) must verify and be signed by the same certificate; a copy that is not is
// deleted. Where it is unsigned (development builds) there is nothing to check. false with error.
bool keptCopyCarriesOurSignature(const std::filesystem::path& copy, std::string& error);

}  // namespace tavro
