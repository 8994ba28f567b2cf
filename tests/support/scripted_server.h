// A scripted HTTP server for the network client's tests.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// An HTTP server on a free loopback port that answers fixed replies, by full request
// target first, then by path; 404 otherwise. Records every request target.
class ScriptedServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::map<std::string, std::string> headers;
    };

    ScriptedServer()
    {
        Poco::Net::ServerSocket socket;
        socket.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true);
        socket.listen(16);
        port_ = socket.address().port();
        server_ = std::make_unique<Poco::Net::HTTPServer>(new Factory(*this), pool_, socket,
                                                          new Poco::Net::HTTPServerParams);
        server_->start();
    }
    ~ScriptedServer()
    {
        server_->stopAll(true);
        server_.reset();
        pool_.joinAll();
    }

    void set(const std::string& target, int status, const std::string& body,
             std::map<std::string, std::string> headers = {})
    {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_[target] = Reply{status, body, std::move(headers)};
    }
    void set(const std::string& target, const std::string& body) { set(target, 200, body); }
    std::vector<std::string> targets() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return targets_;
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    Reply reply(const std::string& target)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(target);
        auto it = replies_.find(target);
        if (it == replies_.end()) it = replies_.find(target.substr(0, target.find('?')));
        return it == replies_.end() ? Reply{404, "not found", {}} : it->second;
    }

    class Handler : public Poco::Net::HTTPRequestHandler {
    public:
        explicit Handler(ScriptedServer& s) : s_(s) {}
        void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
        {
            std::string ignored;
            std::getline(request.stream(), ignored, '\0');
            const Reply r = s_.reply(request.getURI());
            response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(r.status));
            response.setContentLength(static_cast<std::streamsize>(r.body.size()));
            for (const auto& h : r.headers) response.set(h.first, h.second); // may override the length
            if (r.headers.count("Connection")) response.setKeepAlive(false);
            response.send() << r.body;
        }

    private:
        ScriptedServer& s_;
    };
    class Factory : public Poco::Net::HTTPRequestHandlerFactory {
    public:
        explicit Factory(ScriptedServer& s) : s_(s) {}
        Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
        {
            return new Handler(s_);
        }

    private:
        ScriptedServer& s_;
    };

    mutable std::mutex mutex_;
    std::map<std::string, Reply> replies_;
    std::vector<std::string> targets_;
    uint16_t port_ = 0;
    Poco::ThreadPool pool_{1, 4};
    std::unique_ptr<Poco::Net::HTTPServer> server_;
};

} // namespace testsupport
