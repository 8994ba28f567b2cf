#include "simulators/netreg/login.h"

#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/HTTPAuthenticationParams.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/String.h>

#include <sstream>

namespace netsim {

namespace {

constexpr std::size_t kNonces = 256;
const char kRealm[] = "Oltra";

std::string md5(const std::string& text)
{
    Poco::MD5Engine engine;
    engine.update(text);
    return Poco::DigestEngine::digestToHex(engine.digest());
}

} // namespace

Login::Login(const Config& config)
    : auth_(config.auth), user_(config.user), password_(config.password), serial_(config.serial)
{}

Login::Result Login::check(const Poco::Net::HTTPServerRequest& request, const Faults& f)
{
    if (f.always401) return Result::Refused;
    if (auth_ == Auth::None) return Result::Accepted;
    if (!request.hasCredentials()) return Result::Refused;
    std::string scheme, info;
    request.getCredentials(scheme, info);
    try {
        if (auth_ == Auth::Basic) {
            if (Poco::icompare(scheme, "Basic") != 0) return Result::Refused;
            const Poco::Net::HTTPBasicCredentials basic(info);
            if (basic.getUsername() != user_ || basic.getPassword() != password_) return Result::Refused;
            // Without a challenge pending for the client, the credentials came before it.
            std::lock_guard<std::mutex> lock(mutex_);
            if (!challenged_.erase(request.clientAddress().host().toString()) && f.challengeFirst)
                return Result::Refused;
            return Result::Accepted;
        }
        if (Poco::icompare(scheme, "Digest") != 0) return Result::Refused;
        const Poco::Net::HTTPAuthenticationParams p(info);
        if (p.get("username", "") != user_ || p.get("realm", "") != kRealm) return Result::Refused;
        if (!knownNonce(p.get("nonce", "")) || p.get("uri", "") != request.getURI()) return Result::Refused;
        const std::string ha1 = md5(user_ + ":" + kRealm + ":" + password_);
        const std::string ha2 = md5(request.getMethod() + ":" + p.get("uri"));
        const std::string expected = p.has("qop") ? md5(ha1 + ":" + p.get("nonce") + ":" + p.get("nc", "") + ":" +
                                                        p.get("cnonce", "") + ":" + p.get("qop") + ":" + ha2)
                                                  : md5(ha1 + ":" + p.get("nonce") + ":" + ha2);
        if (p.get("response", "") != expected) return Result::Refused;
        return useNonce(p.get("nonce"), p.has("qop") ? p.get("nc", "") : std::string(), f);
    } catch (const Poco::Exception&) {
        return Result::Refused;
    }
}

void Login::challenge(const Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response, bool stale)
{
    if (auth_ == Auth::Basic) {
        std::lock_guard<std::mutex> lock(mutex_);
        challenged_.insert(request.clientAddress().host().toString());
    }
    const std::string challenge = auth_ == Auth::Basic
                                      ? std::string("Basic realm=\"") + kRealm + "\""
                                      : std::string("Digest realm=\"") + kRealm + "\", qop=\"auth\", nonce=\"" +
                                            newNonce() + "\", opaque=\"" + md5(serial_) + "\", algorithm=MD5" +
                                            (stale ? ", stale=true" : "");
    response.set("WWW-Authenticate", challenge);
    response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED);
    response.setContentType("text/html");
    const std::string page = "<html><body>401 Unauthorized</body></html>";
    response.setContentLength(static_cast<std::streamsize>(page.size()));
    response.send() << page;
}

std::string Login::newNonce()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream n;
    n << std::hex << random_.next() << random_.next() << random_.next() << random_.next();
    nonces_.push_back(Nonce{n.str(), std::chrono::steady_clock::now(), 0, 0});
    if (nonces_.size() > kNonces) nonces_.pop_front();
    return n.str();
}

// Takes one use of a nonce whose answer was right, when its lifetime allows it.
Login::Result Login::useNonce(const std::string& value, const std::string& ncText, const Faults& f)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& n : nonces_) {
        if (n.value != value) continue;
        if (f.challengeFirst) {
            if (n.uses > 0) return Result::Stale;
        } else {
            const auto age = std::chrono::steady_clock::now() - n.issued;
            if (f.nonceUses > 0 && n.uses >= f.nonceUses) return Result::Stale;
            if (f.nonceSeconds > 0 && age >= std::chrono::seconds(f.nonceSeconds)) return Result::Stale;
            if (!ncText.empty()) {
                uint64_t nc = 0;
                try {
                    nc = std::stoull(ncText, nullptr, 16);
                } catch (const std::exception&) {
                    return Result::Refused;
                }
                if (nc <= n.lastNc) return Result::Stale;
                n.lastNc = nc;
            }
        }
        ++n.uses;
        return Result::Accepted;
    }
    return Result::Refused;
}

bool Login::knownNonce(const std::string& value) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& n : nonces_)
        if (n.value == value) return true;
    return false;
}

} // namespace netsim
