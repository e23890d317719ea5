// C interface over nb::fec::Codec, with the result codes and null-handle
// conventions that peers' code is written against.
#include "fec/wirehair.h"

#include <atomic>
#include <exception>
#include <new>
#include <memory>

#include <spdlog/spdlog.h>

#include "fec/block_ops.h"
#include "fec/codec_pool.h"
#include "fec/gf256.h"

namespace {

using nb::fec::Codec;
using nb::fec::CodecPool;
using nb::fec::CodecResult;

// Creation is refused until wirehair_init() succeeded, as callers of this
// interface expect.
std::atomic<bool> g_initialized{false};

Codec* to_codec(WirehairCodec handle) { return reinterpret_cast<Codec*>(handle); }
WirehairCodec to_handle(std::unique_ptr<Codec> codec) { return reinterpret_cast<WirehairCodec>(codec.release()); }
WirehairResult to_result(CodecResult r) { return static_cast<WirehairResult>(static_cast<int>(r)); }

std::unique_ptr<Codec> take(WirehairCodec reuse, uint64_t message_bytes, uint32_t block_bytes) {
    if (reuse != nullptr) return std::unique_ptr<Codec>(to_codec(reuse));
    const uint64_t blocks = block_bytes == 0 ? 0 : (message_bytes + block_bytes - 1) / block_bytes;
    return CodecPool::acquire(blocks);
}

// Nothing may unwind into C callers: a failed allocation inside the codec
// becomes Wirehair_OOM, anything else Wirehair_Error, each with a log line.
template <class Call>
WirehairResult guarded(const char* what, Call&& call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        spdlog::error("fec: out of memory in {}", what);
        return Wirehair_OOM;
    } catch (const std::exception& e) {
        spdlog::error("fec: {} failed: {}", what, e.what());
        return Wirehair_Error;
    }
}

// Shared by both create functions: a codec that fails to initialise goes
// back to the cache (or is freed) and the caller gets null.
template <class Init>
WirehairCodec create(const char* what, WirehairCodec reuse, uint64_t message_bytes, uint32_t block_bytes,
                     Init&& init) {
    std::unique_ptr<Codec> codec;
    const WirehairResult r = guarded(what, [&] {
        codec = take(reuse, message_bytes, block_bytes);
        if (!codec) return Wirehair_OOM;
        if (!g_initialized.load(std::memory_order_acquire)) return Wirehair_InvalidInput;
        return to_result(init(*codec));
    });
    if (r == Wirehair_Success) return to_handle(std::move(codec));
    spdlog::debug("fec: {} refused for {} bytes in blocks of {}: {}", what, message_bytes, block_bytes,
                  wirehair_result_string(r));
    if (r != Wirehair_OOM && r != Wirehair_Error) CodecPool::release(std::move(codec));
    return nullptr;
}

}  // namespace

extern "C" {

WirehairResult wirehair_init_(int expected_version) {
    if (expected_version != WIREHAIR_VERSION) {
        spdlog::error("fec: interface version {} requested, this library provides {}", expected_version,
                      WIREHAIR_VERSION);
        return Wirehair_InvalidInput;
    }
    if (!g_initialized.load(std::memory_order_acquire)) {
        if (!nb::fec::Gf256::self_test()) {
            spdlog::error("fec: GF(256) self-test failed");
            return Wirehair_UnsupportedPlatform;
        }
        spdlog::debug("fec: ready, {} block routines", nb::fec::block_ops_use_avx2() ? "AVX2" : "portable");
        g_initialized.store(true, std::memory_order_release);
    }
    return Wirehair_Success;
}

const char* wirehair_result_string(WirehairResult result) {
    switch (result) {
    case Wirehair_Success: return "Success";
    case Wirehair_NeedMore: return "NeedMore";
    case Wirehair_InvalidInput: return "InvalidInput";
    case Wirehair_BadDenseSeed: return "BadDenseSeed";
    case Wirehair_BadPeelSeed: return "BadPeelSeed";
    case Wirehair_BadInput_SmallN: return "BadInput_SmallN";
    case Wirehair_BadInput_LargeN: return "BadInput_LargeN";
    case Wirehair_ExtraInsufficient: return "ExtraInsufficient";
    case Wirehair_Error: return "Error";
    case Wirehair_OOM: return "OOM";
    case Wirehair_UnsupportedPlatform: return "UnsupportedPlatform";
    default: return "Unknown";
    }
}

WirehairCodec wirehair_encoder_create(WirehairCodec reuse_opt, const void* message, uint64_t message_bytes,
                                      uint32_t block_bytes) {
    return create("encoder creation", reuse_opt, message_bytes, block_bytes, [&](Codec& codec) {
        if (message == nullptr) return CodecResult::invalid_input;
        const auto* bytes = static_cast<const uint8_t*>(message);
        return codec.init_encoder({bytes, static_cast<size_t>(message_bytes)}, block_bytes);
    });
}

WirehairResult wirehair_encode(WirehairCodec codec, unsigned block_id, void* block_out, uint32_t out_bytes,
                               uint32_t* data_bytes_out) {
    if (codec == nullptr || block_out == nullptr || data_bytes_out == nullptr) return Wirehair_InvalidInput;
    *data_bytes_out = 0;
    return guarded("encode", [&] {
        return to_result(to_codec(codec)->encode(block_id, {static_cast<uint8_t*>(block_out), out_bytes},
                                                 *data_bytes_out));
    });
}

WirehairCodec wirehair_decoder_create(WirehairCodec reuse_opt, uint64_t message_bytes, uint32_t block_bytes) {
    return create("decoder creation", reuse_opt, message_bytes, block_bytes,
                  [&](Codec& codec) { return codec.init_decoder(message_bytes, block_bytes); });
}

WirehairResult wirehair_decode(WirehairCodec codec, unsigned block_id, const void* block, uint32_t data_bytes) {
    if (codec == nullptr || block == nullptr) return Wirehair_InvalidInput;
    return guarded("decode", [&] {
        return to_result(to_codec(codec)->decode(block_id, {static_cast<const uint8_t*>(block), data_bytes}));
    });
}

WirehairResult wirehair_recover(WirehairCodec codec, void* message_out, uint64_t message_bytes) {
    if (codec == nullptr || message_out == nullptr) return Wirehair_InvalidInput;
    Codec* c = to_codec(codec);
    if (message_bytes != c->message_bytes()) return Wirehair_InvalidInput;
    return guarded("recover", [&] {
        return to_result(c->recover({static_cast<uint8_t*>(message_out), static_cast<size_t>(message_bytes)}));
    });
}

WirehairResult wirehair_recover_block(WirehairCodec codec, unsigned block_id, void* block_out,
                                      uint32_t* bytes_out) {
    if (codec == nullptr || block_out == nullptr || bytes_out == nullptr) return Wirehair_InvalidInput;
    // The caller's buffer holds at least one block, as with the classic interface.
    Codec* c = to_codec(codec);
    return guarded("block recovery", [&] {
        return to_result(c->recover_block(block_id, {static_cast<uint8_t*>(block_out), c->block_bytes()}, *bytes_out));
    });
}

WirehairResult wirehair_decoder_becomes_encoder(WirehairCodec codec) {
    if (codec == nullptr) return Wirehair_InvalidInput;
    return guarded("encoder from decoder", [&] { return to_result(to_codec(codec)->become_encoder()); });
}

void wirehair_free(WirehairCodec codec) {
    if (codec == nullptr) return;
    CodecPool::release(std::unique_ptr<Codec>(to_codec(codec)));
}

}  // extern "C"
