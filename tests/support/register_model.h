// A small scripted register for the money tests: a state, a journal and the documents it
// books, served over a RawHttpServer. Every request first goes to the test's `fault`
// hook, which may answer it its own way (and book the document or not); otherwise the
// register answers as a sound one does.
#pragma once

#include "tests/support/raw_http_server.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/JSON/Stringifier.h>

#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

class RegisterModel {
public:
    using Piece = RawHttpServer::Piece;
    using Pieces = std::vector<Piece>;
    struct Request {
        std::string method, path, query, body;
        std::string target() const { return query.empty() ? path : path + "?" + query; }
    };
    // Answers `request` itself (true, with `answer` set) or leaves it to the register.
    using Fault = std::function<bool(const Request& request, Pieces& answer)>;

    RegisterModel()
        : server_([this](int, const std::string& head, const std::string& body) { return serve(head, body); })
    {}

    std::string address() const { return server_.address(); }

    void setFault(Fault fault)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fault_ = std::move(fault);
    }
    void clearFault() { setFault(Fault()); }

    // Books a document (its text as POSTed) as the register does; returns the record's id.
    int64_t book(const std::string& document)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return bookLocked(document);
    }
    // Appends a record of the journal as given (JSON text, its id included or not); the
    // register's last id becomes `lastId` when it is not 0.
    void addRecord(const std::string& record, int64_t lastId = 0)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        journal_.push_back(record);
        if (lastId) chkId_ = lastId;
    }
    // An empty journal whose last id is `lastId`.
    void clearJournal(int64_t lastId)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        journal_.clear();
        chkId_ = lastId;
    }
    void advanceClock(int64_t seconds)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        time_ += seconds;
    }
    int64_t chkId()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return chkId_;
    }
    void setChkId(int64_t id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        chkId_ = id;
    }
    // Documents booked whose text contains `fragment`.
    int booked(const std::string& fragment)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const std::string& r : journal_)
            if (r.find(fragment) != std::string::npos) ++n;
        return n;
    }
    std::vector<Request> requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void clearRequests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }
    int count(const std::string& method, const std::string& path)
    {
        int n = 0;
        for (const Request& r : requests())
            if (r.method == method && r.path == path) ++n;
        return n;
    }

    static std::string json(const std::string& body) { return RawHttpServer::answer(200, "OK", body); }
    static Pieces answer(int status, const std::string& reason, const std::string& body)
    {
        return Pieces{{RawHttpServer::answer(status, reason, body)}};
    }
    static Pieces dropped() { return Pieces{{"", 0, 0, true}}; }
    // No answer for longer than the tests' time-outs.
    static Pieces silent() { return Pieces{{"", 0, 1500, true}}; }

    std::string stateBody()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return stateLocked();
    }

private:
    std::string stateLocked() const
    {
        return "{\"model\":\"Oltra-T 600\",\"name\":\"n\",\"serial\":\"s\",\"time\":" + std::to_string(time_) +
               ",\"JrnTime\":1,\"chkId\":" + std::to_string(chkId_) + "}";
    }

    int64_t bookLocked(const std::string& document)
    {
        Poco::JSON::Parser parser;
        const Poco::JSON::Object::Ptr root = parser.parse(document).extract<Poco::JSON::Object::Ptr>();
        const std::string kind = root->begin()->first;
        Poco::JSON::Object record;
        const int64_t id = ++chkId_;
        record.set("id", id);
        record.set("no", no_++);
        record.set("time", time_);
        record.set(kind, root->get(kind));
        std::ostringstream out;
        Poco::JSON::Stringifier::stringify(record, out);
        journal_.push_back(out.str());
        return id;
    }

    std::vector<Piece> serve(const std::string& head, const std::string& body)
    {
        Request r;
        const std::size_t sp1 = head.find(' '), sp2 = head.find(' ', sp1 + 1);
        r.method = head.substr(0, sp1);
        const std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
        const std::size_t q = target.find('?');
        r.path = target.substr(0, q);
        r.query = q == std::string::npos ? std::string() : target.substr(q + 1);
        r.body = body;
        Fault fault;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(r);
            fault = fault_;
        }
        Pieces answer;
        if (fault && fault(r, answer)) return answer;
        std::lock_guard<std::mutex> lock(mutex_);
        if (r.path == "/cgi/state.php") return {{json(stateLocked())}};
        if (r.path == "/desc") return {{json("{\"uk\":{\"err\":{}}}")}};
        if (r.path == "/cgi/tbl/Tax") return {{json("[{\"id\":1,\"Prc\":20}]")}};
        if (r.path == "/cgi/tbl/Fsk") return {{json("{\"NumChk\":" + std::to_string(no_) + "}")}};
        if (r.path == "/cgi/scr") return {{json(r.method == "GET" ? "{\"chars\":{\"w\":20}}" : "{}")}};
        if (r.path == "/cgi/chk" && r.method == "GET") {
            int64_t from = 1;
            if (r.query.compare(0, 3, "id=") == 0) from = std::stoll(r.query.substr(3));
            std::string list = "[";
            for (const std::string& record : journal_) {
                Poco::JSON::Parser parser;
                const Poco::JSON::Object::Ptr o = parser.parse(record).extract<Poco::JSON::Object::Ptr>();
                if (o->has("id") && o->get("id").isInteger() && o->getValue<int64_t>("id") < from) continue;
                if (list.size() > 1) list += ",";
                list += record;
            }
            return {{json(list + "]")}};
        }
        if (r.path == "/cgi/chk" && r.method == "POST") {
            const int64_t id = bookLocked(r.body);
            return {{json("{\"id\":" + std::to_string(id) + ",\"no\":" + std::to_string(no_ - 1) + "}")}};
        }
        return answer404();
    }
    static Pieces answer404() { return Pieces{{RawHttpServer::answer(404, "Not Found", "not found")}}; }

    std::mutex mutex_;
    Fault fault_;
    std::vector<Request> requests_;
    std::vector<std::string> journal_;
    int64_t chkId_ = 57;
    int64_t time_ = 1765180800; // 08-12-2025 08:00:00 UTC
    int32_t no_ = 4;
    RawHttpServer server_; // last: stopped before the rest goes
};

} // namespace testsupport
