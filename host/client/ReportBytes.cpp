// The report values of bytes: their length and SHA-256, and the byte
// members of an item (Data, RawData, Resource).
#include "client/FormReport.h"

#include "client/Sha256.h"

std::string BytesValue(const uint8_t* data, size_t length) { return DigestValue(length, Sha256Hex(data, length)); }

const std::string& NoBytesValue() {
    static const std::string kValue = BytesValue(nullptr, 0);
    return kValue;
}

std::string DigestValue(uint64_t length, const std::string& digest) {
    return "{\"Length\": " + std::to_string(length) + ", \"SHA256\": \"" + digest + "\"}";
}

std::string MemberBytes(DispatchObject& field, const std::string& name) {
    platform::Variant value;
    if (!field.get(name, &value)) throw MemberFailure{field.error()};
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray)
        throw MemberFailure{{E_UNEXPECTED, "", name + " gave no bytes"}};
    return BytesValue(static_cast<const uint8_t*>(value.parray->pvData), value.parray->rgsabound[0].cElements);
}

void AddItemBytes(DispatchObject& field, ItemReport& item, const std::string* dataValue) {
    const std::string data = dataValue ? *dataValue : MemberBytes(field, "Data");
    item.add("Data", data);
    if (item.value("MacBinary") == "true") {
        item.add("RawData", MemberBytes(field, "RawData"));
        item.add("Resource", MemberBytes(field, "Resource"));
    } else {
        item.add("RawData", data);
        item.add("Resource", NoBytesValue());
    }
}
