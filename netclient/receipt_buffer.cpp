#include "netclient/receipt_buffer.h"

#include <utility>

namespace oltra {

ReceiptBuffer::ReceiptBuffer(std::u16string type, std::string model)
    : type_(std::move(type)), model_(std::move(model))
{
}

void ReceiptBuffer::appendElement(const std::u16string& element)
{
    if (!items_.empty()) items_ += u',';
    items_ += element;
}

} // namespace oltra
