#include "api/release_check.h"

#include <algorithm>

#include "api/json_text.h"
#include "fs/package_digest.h"

namespace tavro {

namespace {

[[noreturn]] void refuse(const std::string& reason) {
    throw ReleaseRefusal(reason);
}

void note(const LogCallback& log, const std::string& line) {
    if (log) {
        log(line);
    }
}

// The member's value; refused when the reply has none (an empty value counts as none).
std::string requiredMember(std::string_view reply, const char* name) {
    std::optional<std::string> value = jsonMemberValue(reply, name);
    if (!value || value->empty()) {
        refuse(std::string("the signed release has no ") + name);
    }
    return std::move(*value);
}

[[noreturn]] void refuseMalformed(const char* name, const std::string& value) {
    refuse(std::string("the signed release's ") + name + " is malformed: " + value);
}

ReleaseStatement readStatement(std::string_view reply) {
    ReleaseStatement statement;
    statement.version = requiredMember(reply, "Version");
    statement.buildNumber = requiredMember(reply, "BuildNumber");
    const std::string digest = requiredMember(reply, "Sha256");
    statement.sha256 = parseSha256Hex(digest).value_or("");
    if (statement.sha256.empty()) {
        refuseMalformed("Sha256", digest);
    }
    statement.packageSize = requiredMember(reply, "PackageSize");
    if (!parseDecimalSize(statement.packageSize)) {
        refuseMalformed("PackageSize", statement.packageSize);
    }
    statement.expires = requiredMember(reply, "Expires");
    if (!parseUtcTime(statement.expires)) {
        refuseMalformed("Expires", statement.expires);
    }
    return statement;
}

const ReleaseKey& knownKey(const std::string& keyId, std::span<const ReleaseKey> keys) {
    const auto key =
        std::find_if(keys.begin(), keys.end(), [&](const ReleaseKey& k) { return k.id == keyId; });
    if (key == keys.end()) {
        refuse("the release is signed with key " + keyId + ", which this installer does not know");
    }
    return *key;
}

P256Signature signatureOf(const std::string& text) {
    const auto bytes = decodeBase64(text);
    const auto signature = bytes ? rawP256Signature(*bytes) : std::nullopt;
    if (!signature) {
        refuse("the release signature is not 64 bytes of r and s in base64");
    }
    return *signature;
}

void verifySignature(const ReleaseKey& key, const ReleaseStatement& statement,
                     const P256Signature& signature, const ReleaseTrust& trust) {
    const auto spki = decodeBase64(key.spkiBase64);
    const auto point = spki ? p256PublicPoint(*spki) : std::nullopt;
    if (!point) {
        refuse("built-in key " + std::string(key.id) + " is not a P-256 public key");
    }
    std::string error;
    switch (trust.verify(*point, releaseStatementText(statement), signature, error)) {
        case SignatureVerdict::Valid:
            return;
        case SignatureVerdict::Invalid:
            refuse("the release signature does not verify with key " + std::string(key.id));
        case SignatureVerdict::Unavailable:
            refuse("the release signature could not be checked: " + error);
    }
}

void checkExpiry(const ReleaseStatement& statement, std::int64_t now, const LogCallback& log) {
    const std::string nowText = utcTimeText(now);
    if (*parseUtcTime(statement.expires) <= now) {
        refuse("the signed release expired at " + statement.expires + "; the time now is " +
               nowText);
    }
    note(log,
         "Release check: not expired (valid until " + statement.expires + ", now " + nowText + ")");
}

void checkRollback(const std::string& signedBuild, const std::optional<std::string>& floor,
                   const LogCallback& log) {
    if (!floor) {
        note(log, "Release check: no rollback floor recorded yet, no rollback check made");
        return;
    }
    switch (compareBuilds(signedBuild, *floor)) {
        case BuildOrder::Older:
            refuse("the signed release is build " + signedBuild +
                   ", older than the rollback floor " + *floor);
        case BuildOrder::NotComparable:
            // Fails closed: a floor nobody can compare with protects nothing.
            refuse("the signed build " + signedBuild + " or the rollback floor " + *floor +
                   " is not a decimal number");
        case BuildOrder::Same:
        case BuildOrder::Newer:
            note(log, "Release check: build " + signedBuild +
                          " is not older than the rollback floor " + *floor);
            return;
    }
}

}  // namespace

SignedRelease checkSignedRelease(std::string_view reply, const ReleaseTrust& trust,
                                 const LogCallback& log) {
    const std::optional<std::string> signatureText = jsonMemberValue(reply, "Signature");
    if (!signatureText || signatureText->empty()) {
        refuse("the release is not signed: the reply has no Signature");
    }
    SignedRelease release;
    release.statement = readStatement(reply);
    release.packageSize = *parseDecimalSize(release.statement.packageSize);
    release.keyId = requiredMember(reply, "KeyId");
    if (!isReleaseKeyId(release.keyId)) {
        refuseMalformed("KeyId", release.keyId);
    }
    const ReleaseKey& key = knownKey(release.keyId, trust.keys);
    verifySignature(key, release.statement, signatureOf(*signatureText), trust);
    note(log, "Release check: signature by key " + release.keyId + " verified (version " +
                  release.statement.version + ", build " + release.statement.buildNumber + ", " +
                  release.statement.packageSize + " bytes, SHA-256 " + release.statement.sha256 +
                  ")");
    checkExpiry(release.statement, trust.nowUtc, log);
    checkRollback(release.statement.buildNumber, trust.buildFloor, log);
    return release;
}

}  // namespace tavro
