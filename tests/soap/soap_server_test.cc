// The server dispatch over an in-memory transport: method lookup by name and namespace,
// faults for members that throw and for broken requests, and how the body is read.
#include "soap/soap.h"
#include "soap/soap_envelope.h"
#include "soap/soap_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace EasySoap;

namespace {

const char* kNs = "http://lumbrake.test/search/";

class MemoryTransport : public SOAPServerTransport {
public:
    explicit MemoryTransport(std::string body, std::size_t chunk = 1 << 20, long fail_at = -1)
        : body_(std::move(body)), chunk_(chunk), fail_at_(fail_at) {}
    const char* GetCharset() const override { return "US-ASCII"; }
    const char* GetContentType() const override { return "text/xml"; }
    long Read(char* buffer, std::size_t size) override {
        if (fail_at_ >= 0 && pos_ >= static_cast<std::size_t>(fail_at_)) return -1;
        std::size_t n = std::min({size, chunk_, body_.size() - pos_});
        std::memcpy(buffer, body_.data() + pos_, n);
        pos_ += n;
        ++reads_;
        return static_cast<long>(n);
    }
    std::size_t Write(const char* method, const char* payload, std::size_t size) override {
        writes_.push_back({method, std::string(payload, size), error_});
        return size;
    }
    const char* GetSoapAction() const override { return nullptr; }
    void SetError() override { error_ = true; }

    struct Written {
        std::string method, payload;
        bool error_before;
    };
    std::vector<Written> writes_;
    int reads_ = 0;

private:
    std::string body_;
    std::size_t chunk_;
    long fail_at_;
    std::size_t pos_ = 0;
    bool error_ = false;
};

class Calculator : public SOAPDispatchHandler<Calculator> {
public:
    Calculator() {
        DispatchMethod("Add", kNs, &Calculator::Add);
        DispatchMethod("Sum", kNs, &Calculator::Sum);
        DispatchMethod("Total", kNs, &Calculator::Sum); // two names, one member
        DispatchMethod("Fail", kNs, &Calculator::Fail);
    }
    Calculator* GetTarget(const SOAPEnvelope&) override { return this; }

    void Add(const SOAPMethod& req, SOAPMethod& resp) {
        int a = 0, b = 0;
        req.GetParameter("a") >> a;
        req.GetParameter("b") >> b;
        resp.AddParameter("result") << a + b;
    }
    void Sum(const SOAPMethod& req, SOAPMethod& resp) {
        std::vector<int> list;
        req.GetParameter("list") >> list;
        int total = 0;
        for (int v : list)
            total += v;
        resp.AddParameter("total") << total;
        ++sums;
    }
    void Fail(const SOAPMethod&, SOAPMethod&) { throw SOAPException("BadMagic"); }
    int sums = 0;
};

std::string request(const char* name, const char* ns, const std::vector<int>& list) {
    SOAPMethod m(name, ns);
    m.AddParameter("a") << 2;
    m.AddParameter("b") << 40;
    m.AddParameter("list") << list;
    return WriteEnvelope(m);
}

SOAPEnvelope answer(const MemoryTransport& t) {
    EXPECT_EQ(t.writes_.size(), 1u) << "one answer per request";
    return ReadEnvelope(t.writes_.at(0).payload);
}

} // namespace

TEST(SoapDispatch, CallsTheRegisteredMember) {
    Calculator calc;
    SOAPServerDispatch dispatch;
    dispatch.DispatchTo(&calc);
    // Read in pieces of 7 bytes: the body is gathered until Read reports its end.
    MemoryTransport t(request("Add", kNs, {}), 7);
    EXPECT_EQ(dispatch.Handle(t), 200);
    EXPECT_GT(t.reads_, 10);
    SOAPEnvelope env = answer(t);
    EXPECT_FALSE(t.writes_[0].error_before);
    EXPECT_EQ(t.writes_[0].method, "AddResponse");
    EXPECT_EQ(env.method.GetName(), SOAPQName("AddResponse", kNs));
    EXPECT_EQ(env.method.GetParameter("result").GetInt(), 42);

    MemoryTransport t2(request("Total", kNs, {1, 2, 3}));
    EXPECT_EQ(dispatch.Handle(t2), 200);
    EXPECT_EQ(answer(t2).method.GetParameter("total").GetInt(), 6);
    EXPECT_EQ(calc.sums, 1);
}

TEST(SoapDispatch, FaultsAreMarkedBeforeTheyAreWritten) {
    Calculator calc;
    SOAPServerDispatch dispatch;
    dispatch.DispatchTo(&calc);
    struct Case {
        const char* name;
        std::string body;
        const char* code;
        const char* text;
    } cases[] = {
        {"other namespace", request("Add", "http://elsewhere/search/", {}), "SOAP-ENV:Client",
         "No handler found for method 'Add' in namespace 'http://elsewhere/search/'"},
        {"case differs", request("add", kNs, {}), "SOAP-ENV:Client",
         "No handler found for method 'add' in namespace 'http://lumbrake.test/search/'"},
        {"member throws", request("Fail", kNs, {}), "SOAP-ENV:Server", "BadMagic"},
        {"conversion fails",
         request("Sum", kNs, {}).replace(request("Sum", kNs, {}).find("int[0]"), 6, "int[x]"),
         "SOAP-ENV:Server", "Invalid value for array encoding tag 'arrayType': int[x]"},
        {"malformed", "<oops", "SOAP-ENV:Client", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryTransport t(c.body);
        EXPECT_EQ(dispatch.Handle(t), 500);
        SOAPEnvelope env = answer(t);
        EXPECT_TRUE(t.writes_[0].error_before);
        ASSERT_TRUE(env.is_fault);
        EXPECT_EQ(env.fault.code, c.code);
        if (c.text) {
            EXPECT_EQ(env.fault.string, c.text);
        }
    }
    EXPECT_EQ(calc.sums, 0);
}

TEST(SoapDispatch, BodyEndsAtReadErrorOrLimit) {
    Calculator calc;
    SOAPServerDispatch dispatch;
    dispatch.DispatchTo(&calc);
    std::string body = request("Add", kNs, {});
    MemoryTransport cut(body, 16, 64); // the client goes away part-way
    EXPECT_EQ(dispatch.Handle(cut), 500);
    EXPECT_TRUE(answer(cut).is_fault);

    dispatch.SetMaxRequestSize(100);
    MemoryTransport big(body);
    EXPECT_EQ(dispatch.Handle(big), 500);
    EXPECT_EQ(answer(big).fault.string, "SOAP request is too large");
}
