// The register's state kept in STATE_DIR/register.json, read at start and written after
// every change.
#include "simulators/netreg/register_state.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/JSON/Parser.h>

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using namespace fiscal;

void Register::load()
{
    if (config_.stateDir.empty()) return;
    Poco::File(config_.stateDir).createDirectories();
    const std::string path = config_.stateDir + "/register.json";
    if (!Poco::File(path).exists()) return;
    Poco::FileInputStream in(path);
    Poco::JSON::Parser parser;
    const Object::Ptr o = parser.parse(in).extract<Object::Ptr>();
    s_->nextId = o->getValue<Poco::Int64>("nextId");
    s_->nextNo = o->getValue<int>("nextNo");
    s_->nextZ = o->getValue<int>("nextZ");
    s_->shiftOpened = o->getValue<Poco::Int64>("shiftOpened");
    s_->cash = o->getValue<Poco::Int64>("cash");
    s_->receipts = o->getValue<int>("receipts");
    s_->lastReceiptTape = o->getValue<std::string>("lastReceiptTape");
    auto readMap = [&](const char* key, std::map<int, int64_t>& m) {
        const Object::Ptr src = o->getObject(key);
        if (src)
            for (const auto& kv : *src) m[std::stoi(kv.first)] = kv.second.convert<Poco::Int64>();
    };
    readMap("sales", s_->sales);
    readMap("returns", s_->returns);
    readMap("paid", s_->paid);
    const Array::Ptr journal = o->getArray("journal");
    if (journal)
        for (std::size_t i = 0; i < journal->size(); ++i)
            s_->journal.push_back(journal->getObject(static_cast<unsigned>(i)));
}

void Register::save()
{
    if (config_.stateDir.empty()) return;
    Object::Ptr o = new Object;
    o->set("nextId", s_->nextId);
    o->set("nextNo", s_->nextNo);
    o->set("nextZ", s_->nextZ);
    o->set("shiftOpened", s_->shiftOpened);
    o->set("cash", s_->cash);
    o->set("receipts", s_->receipts);
    o->set("lastReceiptTape", s_->lastReceiptTape);
    auto writeMap = [&](const char* key, const std::map<int, int64_t>& m) {
        Object::Ptr dst = new Object;
        for (const auto& kv : m) dst->set(std::to_string(kv.first), kv.second);
        o->set(key, dst);
    };
    writeMap("sales", s_->sales);
    writeMap("returns", s_->returns);
    writeMap("paid", s_->paid);
    Array::Ptr journal = new Array;
    for (const auto& r : s_->journal) journal->add(r);
    o->set("journal", journal);
    const std::string path = config_.stateDir + "/register.json";
    {
        Poco::FileOutputStream out(path + ".tmp");
        Poco::JSON::Stringifier::stringify(o, out);
    }
    Poco::File(path + ".tmp").renameTo(path);
}

} // namespace netsim
