// C interface of the fountain code that repairs lost video packets. It is
// wire-compatible with Wirehair (API version 2) as the streaming agents use it.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum WirehairResult_t {
    Wirehair_Success = 0,
    Wirehair_NeedMore = 1,
    Wirehair_InvalidInput = 2,
    Wirehair_BadDenseSeed = 3,
    Wirehair_BadPeelSeed = 4,
    Wirehair_BadInput_SmallN = 5,
    Wirehair_BadInput_LargeN = 6,
    Wirehair_ExtraInsufficient = 7,
    Wirehair_Error = 8,
    Wirehair_OOM = 9,
    Wirehair_UnsupportedPlatform = 10,
    WirehairResult_Count,
    WirehairResult_Padding = 0x7fffffff
} WirehairResult;

typedef struct WirehairCodec_t* WirehairCodec;

#define WIREHAIR_VERSION 2

WirehairResult wirehair_init_(int expected_version);
#define wirehair_init() wirehair_init_(WIREHAIR_VERSION)

const char* wirehair_result_string(WirehairResult result);

WirehairCodec wirehair_encoder_create(WirehairCodec reuse_opt, const void* message, uint64_t message_bytes,
                                      uint32_t block_bytes);
WirehairResult wirehair_encode(WirehairCodec codec, unsigned block_id, void* block_out, uint32_t out_bytes,
                               uint32_t* data_bytes_out);

WirehairCodec wirehair_decoder_create(WirehairCodec reuse_opt, uint64_t message_bytes, uint32_t block_bytes);
WirehairResult wirehair_decode(WirehairCodec codec, unsigned block_id, const void* block, uint32_t data_bytes);
WirehairResult wirehair_recover(WirehairCodec codec, void* message_out, uint64_t message_bytes);
// One original block (block_id < N) after decoding succeeded; block_out holds
// at least block_bytes bytes and *bytes_out receives the block's length.
WirehairResult wirehair_recover_block(WirehairCodec codec, unsigned block_id, void* block_out, uint32_t* bytes_out);
// After decoding succeeded, the decoder can produce repair blocks too.
WirehairResult wirehair_decoder_becomes_encoder(WirehairCodec codec);

void wirehair_free(WirehairCodec codec);

#ifdef __cplusplus
}
#endif
