// The register's display ("/cgi/scr"), and the state the console shows with it.
#include "simulators/netreg/register_state.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using namespace fiscal;

Answer Register::screen(const std::string& method, const std::string& body)
{
    if (method == "GET") {
        Object::Ptr chars = new Object, root = new Object;
        chars->set("w", config_.displayWidth);
        chars->set("h", kDisplayLines);
        root->set("chars", chars);
        Array::Ptr lines = new Array;
        for (const auto& l : s_->display) lines->add(l.second);
        root->set("lines", lines);
        return Answer{200, json(root)};
    }
    try {
        Poco::JSON::Parser parser;
        const Var v = parser.parse(body);
        if (v.type() != typeid(Array::Ptr)) return errorAnswer(RegisterError::BadDisplayData);
        const Array::Ptr list = v.extract<Array::Ptr>();
        auto display = s_->display;
        for (std::size_t i = 0; i < list->size(); ++i) {
            const Object::Ptr line = list->getObject(static_cast<unsigned>(i));
            if (line.isNull()) return errorAnswer(RegisterError::BadDisplayData);
            const int id = line->getValue<int>("id");
            if (id < 1 || id > kDisplayLines) return errorAnswer(RegisterError::BadDisplayData);
            display[id - 1] = {line->has("align") ? line->getValue<std::string>("align") : "l",
                               line->has("str") ? line->getValue<std::string>("str") : ""};
        }
        s_->display = display;
    } catch (const Poco::Exception&) {
        return errorAnswer(RegisterError::BadDisplayData);
    }
    std::string out = "  +" + std::string(config_.displayWidth, '-') + "+\n";
    for (const auto& l : s_->display) out += "  |" + padRight(l.second, config_.displayWidth) + "|\n";
    out += "  +" + std::string(config_.displayWidth, '-') + "+\n";
    tape_.printDisplay(out);
    return Answer{200, "{}"};
}

namespace {

// A display line as the register shows it: cut to the width, aligned within it.
std::string displayLine(const std::string& text, const std::string& align, std::size_t width)
{
    std::vector<std::string> chars;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        chars.push_back(text.substr(i, n));
        i += n;
    }
    if (chars.size() > width) chars.resize(width);
    const std::size_t room = width - chars.size();
    const std::size_t left = align == "r" ? room : align == "c" ? room / 2 : 0;
    std::string out(left, ' ');
    for (const auto& c : chars) out += c;
    return out + std::string(room - left, ' ');
}

} // namespace

std::string Register::consoleState()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const State& s = *s_;
    const int cash = cashType(familyOf(config_.model));

    Array::Ptr lines = new Array;
    for (const auto& l : s.display)
        lines->add(displayLine(l.second, l.first, static_cast<std::size_t>(config_.displayWidth)));
    Object::Ptr display = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    display->set("width", config_.displayWidth);
    display->set("lines", lines);

    Array::Ptr groups = new Array;
    for (const auto& g : kTaxGroups) {
        Object::Ptr row = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
        row->set("group", std::to_string(g.id) + " " + g.letter);
        row->set("rate %", g.rate);
        row->set("sales", money(s.sales.count(g.id) ? s.sales.at(g.id) : 0));
        row->set("returns", money(s.returns.count(g.id) ? s.returns.at(g.id) : 0));
        groups->add(row);
    }
    Array::Ptr payments = new Array;
    for (const auto& p : s.paid) {
        Object::Ptr row = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
        row->set("type", std::to_string(p.first) + (p.first == cash ? " готівка" : ""));
        row->set("sum", money(p.second));
        payments->add(row);
    }
    Object::Ptr fiscal = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    fiscal->set("Clock", timeText(now()));
    fiscal->set("Shift open", s.shiftOpened != 0);
    if (s.shiftOpened) fiscal->set("Shift opened", timeText(s.shiftOpened));
    fiscal->set("Receipt open", "no (a receipt comes whole, in one request)");
    fiscal->set("Receipts in the shift", s.receipts);
    fiscal->set("Next receipt", s.nextNo);
    fiscal->set("Next Z report", s.nextZ);
    fiscal->set("Last journal record", s.nextId - 1);
    fiscal->set("Cash in the drawer", money(s.cash));
    fiscal->set("Totals by tax group", groups);
    fiscal->set("Payments by type", payments);

    Object::Ptr root = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    root->set("title", "oltra-netsim: " + config_.model + " «" + config_.name + "», ЗН " + config_.serial);
    root->set("display", display);
    root->set("logo", Var());
    root->set("fiscal", fiscal);
    return json(root);
}

} // namespace netsim
