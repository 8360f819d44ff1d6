// The host's reading of one library message: which messages it acts on and when a Create
// carries its record.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "request.h"

using namespace dlengine;

namespace {

std::vector<uint8_t> Message(wire::Header header, size_t payload) {
    std::vector<uint8_t> bytes(sizeof header + payload, 0);
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

wire::Header HeaderOf(wire::Op op) {
    wire::Header header;
    header.op = static_cast<uint16_t>(op);
    header.handle = 9;
    return header;
}

TEST(RequestTest, AcceptsOnlyWholeHeadersOfThisProtocol) {
    wire::Header foreign = HeaderOf(wire::Op::Query);
    foreign.magic = 0x12345678;
    wire::Header newer = HeaderOf(wire::Op::Query);
    newer.version = wire::kVersion + 1;
    wire::Header unknownOp = HeaderOf(wire::Op::Query);
    unknownOp.op = 0;
    wire::Header pastLastOp = HeaderOf(wire::Op::Delete);
    pastLastOp.op += 1;
    const std::vector<uint8_t> query = Message(HeaderOf(wire::Op::Query), 0);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool accepted;
    } cases[] = {
        {"empty", {}, false},
        {"one byte short", std::vector<uint8_t>(query.begin(), query.end() - 1), false},
        {"foreign magic", Message(foreign, 0), false},
        {"other version", Message(newer, 0), false},
        {"op 0", Message(unknownOp, 0), false},
        {"op past Delete", Message(pastLastOp, 0), false},
        {"query", query, true},
        {"query with trailing bytes", Message(HeaderOf(wire::Op::Query), 3), true},
    };
    for (const auto& c : cases) {
        Request request;
        EXPECT_EQ(DecodeRequest(c.bytes.data(), c.bytes.size(), &request), c.accepted) << c.what;
        EXPECT_EQ(request.create, nullptr) << c.what;
    }
}

TEST(RequestTest, CreateCarriesItsRecordOnlyAtItsExactSize) {
    const size_t exact = sizeof(wire::CreatePayload);
    for (const size_t payload : {size_t{0}, exact - 1, exact, exact + 1}) {
        std::vector<uint8_t> bytes = Message(HeaderOf(wire::Op::Create), payload);
        if (payload == exact) {
            // A recognisable byte in the record's last field shows it was copied whole.
            bytes.back() = 0x5A;
        }
        Request request;
        ASSERT_TRUE(DecodeRequest(bytes.data(), bytes.size(), &request)) << payload;
        EXPECT_EQ(request.header.handle, 9);
        ASSERT_EQ(request.create != nullptr, payload == exact) << payload;
        if (request.create != nullptr) {
            EXPECT_EQ(reinterpret_cast<const uint8_t*>(request.create.get())[exact - 1], 0x5A);
        }
    }
}

} // namespace
