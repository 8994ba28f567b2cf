// The receipt under construction: the register takes a whole receipt as one JSON
// document ({"F":[...]}, {"R":[...]} or {"P":[...]}), so its elements are collected here
// and sent when the receipt is closed.
#pragma once

#include <string>

namespace oltra {

class ReceiptBuffer {
public:
    // type: u"F" sale, u"R" return, u"P" non-fiscal; model: the register's model.
    ReceiptBuffer(std::u16string type, std::string model);

    // Appends one element (a JSON object text), separated from the previous one by ",".
    void appendElement(const std::u16string& element);

    const std::u16string& type() const { return type_; }
    const std::u16string& items() const { return items_; }
    const std::string& model() const { return model_; }
    bool empty() const { return items_.empty(); }

private:
    std::u16string type_;
    std::u16string items_;
    std::string model_;
};

} // namespace oltra
