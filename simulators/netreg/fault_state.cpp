#include "simulators/netreg/fault_state.h"

#include "simulators/console/http.h"

#include <stdexcept>

namespace netsim {

namespace {

std::string broken(const std::string& json) { return json.substr(0, json.size() / 2) + ",,{"; }

} // namespace

std::string htmlPage(int status, const std::string& reason)
{
    return "<html><head><title>" + std::to_string(status) + " " + reason + "</title></head><body><h1>" + reason +
           "</h1></body></html>";
}

Faults FaultState::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

void FaultState::replace(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
    documentSeen_ = false;
    sinceDocument_ = 0;
    sinceDocumentByPath_.clear();
}

std::vector<std::string> FaultState::countAfterDocument(Faults& f, const std::string& path, bool document)
{
    std::vector<std::string> applied;
    if (f.afterDocument.empty() && !document) return applied;
    uint64_t any = 0, onPath = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (document) {
            documentSeen_ = true;
            sinceDocument_ = 0;
            sinceDocumentByPath_.clear();
            return applied;
        }
        if (!documentSeen_) return applied;
        any = ++sinceDocument_;
        onPath = ++sinceDocumentByPath_[path];
    }
    const std::vector<Faults::AfterDocument> rules = f.afterDocument;
    for (const auto& r : rules) {
        if (!r.path.empty() && r.path != path) continue;
        const uint64_t n = r.path.empty() ? any : onPath;
        if (n < static_cast<uint64_t>(r.nth) || (!r.onward && n != static_cast<uint64_t>(r.nth))) continue;
        try {
            applyAfterDocument(f, r);
            applied.push_back("after-document " + r.option);
        } catch (const std::invalid_argument&) {
            // Checked when the rule was given.
        }
    }
    return applied;
}

std::vector<std::string> FaultState::shaping(const Faults& f, const std::string& path, bool post, bool document,
                                             const std::vector<std::string>& after)
{
    std::vector<std::string> n = after;
    if (!post && path == "/cgi/chk" && f.journal.any()) n.push_back("journal");
    if (post && !f.foreignDocument.empty()) n.push_back("foreign-document");
    if (lookup(f.delayMs, path)) n.push_back("delay");
    if (document && f.documentStatus) {
        n.push_back("document-status");
    } else if (document && f.documentAnswer != Faults::BadAnswer::None) {
        n.push_back("document-answer");
    } else if (lookup(f.status, path)) {
        n.push_back("status");
    } else {
        if (lookup(f.stallAfterMs, path)) n.push_back("stall-after");
        if (lookup(f.err, path)) n.push_back("err");
        if (lookup(f.errArray, path)) n.push_back("err-array");
        if (matches(f.malformed, path)) n.push_back("malformed");
        if (lookup(f.oversize, path)) n.push_back("oversize");
    }
    if (f.bom) n.push_back("bom");
    if (f.deflate) n.push_back("deflate");
    if (lookup(f.drip, path)) n.push_back("drip");
    if (lookup(f.stallBodyMs, path)) n.push_back("stall-body");
    return n;
}

void FaultState::rewrite(const Faults& f, const std::string& path, Answer& a)
{
    if (const std::string* code = lookup(f.err, path)) a.body = "{\"err\":" + simconsole::jsonQuote(*code) + "}";
    if (const auto* codes = lookup(f.errArray, path)) {
        a.body = "{\"err\":[";
        for (std::size_t i = 0; i < codes->size(); ++i)
            a.body += (i ? ",{\"e\":" : "{\"e\":") + simconsole::jsonQuote((*codes)[i]) + "}";
        a.body += "]}";
    }
    if (matches(f.malformed, path)) a.body = broken(a.body);
    if (const std::size_t* size = lookup(f.oversize, path))
        if (a.body.size() < *size) a.body.append(*size - a.body.size(), ' ');
}

std::string FaultState::badAnswer(Faults::BadAnswer kind, const std::string& answer)
{
    switch (kind) {
    case Faults::BadAnswer::Html: return htmlPage(200, "OK");
    case Faults::BadAnswer::Array: return "[" + answer + "]";
    case Faults::BadAnswer::Broken: return answer.empty() ? std::string("{\"id\":") : broken(answer);
    case Faults::BadAnswer::Empty:
    case Faults::BadAnswer::Close: return std::string();
    case Faults::BadAnswer::None: break;
    }
    return answer;
}

} // namespace netsim
