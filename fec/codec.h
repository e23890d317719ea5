// One fountain-code instance: an encoder built from a message, or a
// decoder that collects blocks until the message can be rebuilt. The C
// interface in wirehair.h is a thin shell over this class.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fec/block_buffer.h"
#include "fec/block_row.h"
#include "fec/codec_params.h"
#include "fec/dense_pattern.h"
#include "fec/solver.h"

namespace nb::fec {

// Numerically equal to the C interface's result codes.
enum class CodecResult : int {
    success = 0,
    need_more = 1,
    invalid_input = 2,
    bad_dense_seed = 3,
    bad_peel_seed = 4,
    too_few_blocks = 5,
    too_many_blocks = 6,
    extra_insufficient = 7,
    error = 8,
    out_of_memory = 9,
};

// One caller at a time; codecs are cheap to keep per thread (CodecPool).
// init_* may be called again at any time to start a new message with the
// buffers of the old one.
class Codec {
public:
    // Blocks beyond N a decoder keeps before it refuses more: far more than
    // any loss pattern needs, and a bound on what a peer can make us hold.
    static constexpr uint32_t k_max_extra_rows = 1024;

    CodecResult init_encoder(std::span<const uint8_t> message, uint32_t block_bytes);
    CodecResult init_decoder(uint64_t message_bytes, uint32_t block_bytes);

    // Writes the block of `block_id` (B bytes, or the final block's length
    // for id N-1) and reports its length.
    CodecResult encode(uint32_t block_id, std::span<uint8_t> out, uint32_t& written) const;

    // Feeds one received block: success once the blocks so far determine the
    // message, need_more before; repeats add nothing, and blocks after
    // success are ignored.
    CodecResult decode(uint32_t block_id, std::span<const uint8_t> data);
    // Rebuilds the whole message; out must be exactly the message size.
    CodecResult recover(std::span<uint8_t> out);
    // Rebuilds one original block (id < N).
    CodecResult recover_block(uint32_t block_id, std::span<uint8_t> out, uint32_t& written);
    // Turns a decoder that has succeeded into an encoder of the same message.
    CodecResult become_encoder();

    bool is_encoder() const { return encoder_; }
    uint32_t block_count() const { return params_.block_count; }
    uint64_t message_bytes() const { return message_bytes_; }
    uint32_t block_bytes() const { return block_bytes_; }
    // Heap held for reuse by the next message.
    size_t retained_bytes() const;

private:
    static constexpr uint32_t k_no_slot = 0xFFFFFFFFu;

    CodecResult set_sizes(uint64_t message_bytes, uint32_t block_bytes);
    const uint8_t* slot(uint32_t index) const { return received_.data() + static_cast<size_t>(index) * block_bytes_; }
    bool seen_before(uint32_t block_id);
    // How far the intermediate symbols have been computed.
    enum class Symbols { none, unknowns_solved, complete };
    bool ensure_symbols(Symbols wanted);
    void write_missing_block(uint32_t block_id, uint8_t* out, size_t bytes);
    void write_block(uint32_t block_id, uint8_t* out, size_t bytes) const;
    // Wirehair cuts any block whose id has N-1 in its low 16 bits; only the
    // original final block is cut here, as decoders take repair blocks whole.
    uint32_t block_length(uint32_t block_id) const {
        return block_id == params_.block_count - 1 ? final_bytes_ : block_bytes_;
    }

    CodecParams params_;
    RowModuli moduli_;
    DensePattern dense_;
    Solver solver_;
    bool encoder_ = false;
    uint64_t message_bytes_ = 0;
    uint32_t block_bytes_ = 0;
    uint32_t final_bytes_ = 0;

    // Intermediate symbols, column_count() blocks.
    BlockBuffer symbols_;
    Symbols symbols_state_ = Symbols::none;

    // Decoder: received blocks in arrival order, their ids, and where each
    // original block landed.
    BlockBuffer received_;
    uint32_t received_capacity_ = 0;
    std::vector<uint32_t> row_ids_;
    std::vector<const uint8_t*> row_data_;
    std::vector<uint32_t> data_slot_;
    std::vector<uint32_t> missing_ids_;
    std::vector<uint8_t*> missing_outs_;
    uint32_t data_count_ = 0;
    std::vector<uint64_t> repair_seen_;        // ids N .. N+window-1
    std::vector<uint32_t> far_repair_seen_;    // any other repair id
    bool solved_ = false;
};

}  // namespace nb::fec
