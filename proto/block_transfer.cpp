#include "proto/block_transfer.h"

#include <algorithm>
#include <array>

#include "core/result_codes.h"
#include "proto/boot_steps.h"
#include "proto/exchange.h"

namespace plcburn {

namespace {

constexpr std::uint32_t kTransferTimeoutMs = 3000;
constexpr std::size_t kHeader = 3;  // STX, number, complement

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t value = n << 8;
    for (int bit = 0; bit < 8; ++bit) value = (value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1;
    table[n] = static_cast<std::uint16_t>(value);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> crctab = MakeCrcTable();

// Each failure of a block's exchange sends it again, but for the one that ends an exhausted
// exchange.
void CountBlock(StepContext& ctx, bool acked, std::int32_t failures) {
  if (ctx.record == nullptr) return;
  ++ctx.record->blocks.sent;
  ctx.record->blocks.resent += static_cast<std::uint32_t>(acked ? failures : failures - 1);
}

}  // namespace

std::uint32_t CRC(const std::uint8_t* data, std::uint32_t len) {
  constexpr std::uint32_t order = 16;
  constexpr std::uint32_t crcxor = 0;
  constexpr std::uint32_t crcmask = 0xFFFF;
  std::uint32_t crc = 0;
  for (std::uint32_t i = 0; i < len; ++i) {
    const std::uint32_t index = ((crc >> (order - 8)) & 0xFF) ^ data[i];
    crc = (crc << 8) ^ crctab[index];
  }
  return (crc ^ crcxor) & crcmask;
}

bool FileRead(StepContext& ctx, std::uint8_t* rxbuf, std::int32_t counter) {
  if (counter <= 0) return true;
  return ctx.fin.Read({rxbuf, static_cast<std::size_t>(counter)});
}

std::uint8_t SendFW(StepContext& ctx, Link& hSerial) {
  hSerial.SetTimeouts(StepTimeouts(kTransferTimeoutMs));
  const std::uint32_t dataSize = ctx.model.blockSize;
  const std::int32_t totalPacket = ctx.model.TotalPackets(ctx.fileLength);
  // The bytes that go out: the image without the tail the model never sends.
  const std::uint32_t sentBytes = ctx.fileLength - std::min(ctx.fileLength, ctx.model.unsentTail);
  const auto lastBlockBytes = static_cast<std::int32_t>(sentBytes % dataSize);
  ctx.state.flashStatus.store(PROGRAM);
  ctx.state.progress.store(0);
  if (ctx.record != nullptr) ctx.record->blocks.total = static_cast<std::uint32_t>(totalPacket);

  std::array<std::uint8_t, kHeader + kMaxBlockSize + 2> txBuf{};
  std::uint8_t* const data = txBuf.data() + kHeader;
  const std::size_t blockLength = kHeader + dataSize + 2;
  std::uint8_t packetNum = 1;
  std::int32_t packetCounter = 0;

  for (std::int32_t i = 0; i < totalPacket; ++i) {
    txBuf[0] = STX;
    txBuf[1] = packetNum;
    txBuf[2] = static_cast<std::uint8_t>(0xFF - packetNum);
    const bool wholeBlock = i < totalPacket - 1 || lastBlockBytes == 0;
    const std::int32_t imageBytes =
        wholeBlock ? static_cast<std::int32_t>(dataSize) : lastBlockBytes;
    if (!FileRead(ctx, data, imageBytes)) return RC_FAIL;
    std::fill(data + imageBytes, data + dataSize, SUB);
    const std::uint32_t crc = CRC(data, dataSize);
    data[dataSize] = static_cast<std::uint8_t>(crc >> 8);
    data[dataSize + 1] = static_cast<std::uint8_t>(crc & 0xFF);

    ctx.state.errCounter.store(0);
    const std::int32_t failuresBefore = ctx.state.totalErrCounter.load();
    // A NAK or silence resends the very same block: it is built once.
    const bool acked = ExchangeForAck(ctx, hSerial, txBuf.data(), blockLength);
    CountBlock(ctx, acked, ctx.state.totalErrCounter.load() - failuresBefore);
    if (!acked) return RC_FAIL;
    ++packetNum;
    ++packetCounter;
    ctx.state.progress.store(packetCounter * 100 / (totalPacket + 1));
  }

  const std::uint8_t eot = EOT;
  ctx.state.errCounter.store(0);
  if (!ExchangeForAck(ctx, hSerial, &eot, 1)) return RC_FAIL;
  ctx.state.progress.store(100);
  ctx.state.errCounter.store(0);
  return RC_OK;
}

}  // namespace plcburn
