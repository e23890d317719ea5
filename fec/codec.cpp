#include "fec/codec.h"

#include <algorithm>
#include <cstring>

#include <spdlog/spdlog.h>

#include "fec/block_ops.h"
#include "fec/block_row.h"

namespace nb::fec {
namespace {

// Repair ids the agents actually send (N + one-byte index) are tracked in
// a bitmap; anything else falls back to a list.
constexpr uint32_t k_repair_window = 1024;

}  // namespace

CodecResult Codec::set_sizes(uint64_t message_bytes, uint32_t block_bytes) {
    if (message_bytes == 0 || block_bytes == 0) return CodecResult::invalid_input;
    const uint64_t count = (message_bytes + block_bytes - 1) / block_bytes;
    if (count < k_min_block_count) return CodecResult::too_few_blocks;
    if (count > k_max_block_count) return CodecResult::too_many_blocks;
    const auto params = CodecParams::for_block_count(static_cast<uint32_t>(count));
    if (!params) return CodecResult::invalid_input;
    if (!dense_.built_for(*params)) dense_.build(*params);
    if (params_.block_count != params->block_count) moduli_ = RowModuli(*params);
    params_ = *params;
    message_bytes_ = message_bytes;
    block_bytes_ = block_bytes;
    final_bytes_ = static_cast<uint32_t>(message_bytes - (count - 1) * block_bytes);
    symbols_state_ = Symbols::none;
    solved_ = false;
    row_ids_.clear();
    row_data_.clear();
    data_slot_.clear();
    data_count_ = 0;
    repair_seen_.clear();
    far_repair_seen_.clear();
    return CodecResult::success;
}

CodecResult Codec::init_encoder(std::span<const uint8_t> message, uint32_t block_bytes) {
    encoder_ = true;
    if (message.data() == nullptr) return CodecResult::invalid_input;
    if (const auto r = set_sizes(message.size(), block_bytes); r != CodecResult::success) return r;
    const uint32_t n = params_.block_count;
    row_ids_.resize(n);
    for (uint32_t i = 0; i < n; ++i) row_ids_[i] = i;
    if (!solver_.plan(params_, dense_, row_ids_)) {
        spdlog::error("fec: no solution for the encoder's system at N={}", n);
        return CodecResult::bad_peel_seed;
    }
    row_data_.resize(n);
    for (uint32_t i = 0; i + 1 < n; ++i) row_data_[i] = message.data() + static_cast<size_t>(i) * block_bytes;
    // The final block enters the equations zero-padded to a whole block.
    const size_t last_at = static_cast<size_t>(n - 1) * block_bytes;
    if (final_bytes_ == block_bytes) {
        row_data_[n - 1] = message.data() + last_at;
    } else {
        uint8_t* padded = received_.reserve(block_bytes);
        if (padded == nullptr) return CodecResult::out_of_memory;
        std::memcpy(padded, message.data() + last_at, final_bytes_);
        std::memset(padded + final_bytes_, 0, block_bytes - final_bytes_);
        row_data_[n - 1] = padded;
    }
    uint8_t* symbols = symbols_.reserve(static_cast<size_t>(params_.column_count()) * block_bytes);
    if (symbols == nullptr || !solver_.compute(row_data_, symbols, block_bytes)) return CodecResult::out_of_memory;
    // Originals are rebuilt from the symbols too, so the caller's buffer is
    // not needed after this returns.
    row_data_.clear();
    symbols_state_ = Symbols::complete;
    solved_ = true;
    return CodecResult::success;
}

CodecResult Codec::init_decoder(uint64_t message_bytes, uint32_t block_bytes) {
    encoder_ = false;
    if (const auto r = set_sizes(message_bytes, block_bytes); r != CodecResult::success) return r;
    data_slot_.assign(params_.block_count, k_no_slot);
    repair_seen_.assign(k_repair_window / 64, 0);
    received_capacity_ = 0;
    return CodecResult::success;
}

void Codec::write_block(uint32_t block_id, uint8_t* out, size_t bytes) const {
    const BlockRow row = BlockRow::for_id(params_, moduli_, block_id);
    const uint8_t* base = symbols_.data();
    const size_t stride = block_bytes_;
    const uint8_t* sources[64 + 3];
    size_t count = 0;
    row.for_each_peel_column(params_, [&](uint32_t c) { sources[count++] = base + c * stride; });
    for (const uint32_t m : row.mix_columns(params_)) sources[count++] = base + (params_.block_count + m) * stride;
    xor_sum(out, std::span<const uint8_t* const>(sources, count), bytes);
}

CodecResult Codec::encode(uint32_t block_id, std::span<uint8_t> out, uint32_t& written) const {
    written = 0;
    if (!encoder_ || symbols_state_ != Symbols::complete || out.data() == nullptr) return CodecResult::invalid_input;
    const uint32_t length = block_length(block_id);
    if (out.size() < length) return CodecResult::invalid_input;
    write_block(block_id, out.data(), length);
    written = length;
    return CodecResult::success;
}

bool Codec::seen_before(uint32_t block_id) {
    const uint32_t n = params_.block_count;
    if (block_id < n) return data_slot_[block_id] != k_no_slot;
    const uint64_t offset = static_cast<uint64_t>(block_id) - n;
    if (offset < k_repair_window) {
        uint64_t& word = repair_seen_[offset / 64];
        const uint64_t bit = uint64_t{1} << (offset % 64);
        const bool seen = (word & bit) != 0;
        word |= bit;
        return seen;
    }
    if (std::find(far_repair_seen_.begin(), far_repair_seen_.end(), block_id) != far_repair_seen_.end()) return true;
    far_repair_seen_.push_back(block_id);
    return false;
}

CodecResult Codec::decode(uint32_t block_id, std::span<const uint8_t> data) {
    if (encoder_) return CodecResult::invalid_input;
    if (data.data() == nullptr || data.empty()) return CodecResult::invalid_input;
    const uint32_t n = params_.block_count;
    const bool final_block = block_id == n - 1;
    // Only the final original may be short; it is zero-padded like the encoder does.
    if (final_block ? data.size() < final_bytes_ : data.size() != block_bytes_) {
        spdlog::debug("fec: block {} has {} bytes, expected {}", block_id, data.size(),
                      final_block ? final_bytes_ : block_bytes_);
        return CodecResult::invalid_input;
    }
    // Blocks after success add nothing; the message is already determined.
    if (solved_) return CodecResult::success;
    if (row_ids_.size() >= static_cast<size_t>(n) + k_max_extra_rows) return CodecResult::extra_insufficient;
    if (seen_before(block_id)) return CodecResult::need_more;

    const auto index = static_cast<uint32_t>(row_ids_.size());
    if (index == received_capacity_) {
        // Grow in steps, keeping what is stored: most frames need N blocks
        // and a few more.
        const uint32_t wanted = std::max<uint32_t>(n + 16, received_capacity_ + received_capacity_ / 4 + 16);
        const size_t old_bytes = static_cast<size_t>(index) * block_bytes_;
        if (received_.capacity() < static_cast<size_t>(wanted) * block_bytes_) {
            BlockBuffer bigger;
            if (bigger.reserve(static_cast<size_t>(wanted) * block_bytes_) == nullptr) {
                return CodecResult::out_of_memory;
            }
            if (old_bytes != 0) std::memcpy(bigger.data(), received_.data(), old_bytes);
            received_ = std::move(bigger);
        }
        received_capacity_ = static_cast<uint32_t>(received_.capacity() / block_bytes_);
    }
    uint8_t* stored = received_.data() + static_cast<size_t>(index) * block_bytes_;
    if (final_block) {
        std::memcpy(stored, data.data(), final_bytes_);
        std::memset(stored + final_bytes_, 0, block_bytes_ - final_bytes_);
    } else {
        std::memcpy(stored, data.data(), block_bytes_);
    }
    row_ids_.push_back(block_id);
    if (block_id < n) {
        data_slot_[block_id] = index;
        ++data_count_;
    }

    if (data_count_ == n) {
        solved_ = true;
        return CodecResult::success;
    }
    // Fewer blocks than N can never determine N unknown blocks.
    if (row_ids_.size() < n) return CodecResult::need_more;
    if (!solver_.plan(params_, dense_, row_ids_)) return CodecResult::need_more;
    solved_ = true;
    return CodecResult::success;
}

bool Codec::ensure_symbols(Symbols wanted) {
    if (symbols_state_ == Symbols::none) {
        uint8_t* symbols = symbols_.reserve(static_cast<size_t>(params_.column_count()) * block_bytes_);
        if (symbols == nullptr) return false;
        const uint32_t n = params_.block_count;
        if (data_count_ == n) {
            // Every original arrived, so decode() never solved; the
            // encoder's system over those blocks gives the symbols.
            row_ids_.resize(n);
            for (uint32_t i = 0; i < n; ++i) row_ids_[i] = i;
            if (!solver_.plan(params_, dense_, row_ids_)) return false;
            row_data_.resize(n);
            for (uint32_t i = 0; i < n; ++i) row_data_[i] = slot(data_slot_[i]);
        } else {
            row_data_.resize(row_ids_.size());
            for (uint32_t i = 0; i < row_ids_.size(); ++i) row_data_[i] = slot(i);
        }
        if (!solver_.solve_unknowns(row_data_, symbols, block_bytes_)) return false;
        symbols_state_ = Symbols::unknowns_solved;
    }
    if (wanted == Symbols::complete && symbols_state_ != Symbols::complete) {
        solver_.finish_peeled(row_data_, symbols_.data(), block_bytes_);
        symbols_state_ = Symbols::complete;
    }
    return true;
}

void Codec::write_missing_block(uint32_t block_id, uint8_t* out, size_t bytes) {
    if (symbols_state_ == Symbols::complete) {
        write_block(block_id, out, bytes);
    } else {
        solver_.write_row(block_id, symbols_.data(), out, bytes, block_bytes_);
    }
}

CodecResult Codec::recover(std::span<uint8_t> out) {
    if (encoder_ || out.data() == nullptr) return CodecResult::invalid_input;
    if (out.size() != message_bytes_) return CodecResult::invalid_input;
    // Until decode() has reported success the message is not determined, and
    // writing a guess would hand corrupt data on as if it were whole.
    if (!solved_) return CodecResult::need_more;
    const uint32_t n = params_.block_count;
    const bool missing = data_count_ < n;
    // With few blocks missing, building just those from the solved
    // unknowns beats finishing every intermediate symbol.
    if (missing && !ensure_symbols(Symbols::unknowns_solved)) return CodecResult::out_of_memory;
    missing_ids_.clear();
    missing_outs_.clear();
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* target = out.data() + static_cast<size_t>(i) * block_bytes_;
        const uint32_t length = block_length(i);
        if (data_slot_[i] != k_no_slot) {
            std::memcpy(target, slot(data_slot_[i]), length);
        } else if (length != block_bytes_ || symbols_state_ == Symbols::complete) {
            write_missing_block(i, target, length);
        } else {
            missing_ids_.push_back(i);
            missing_outs_.push_back(target);
        }
    }
    if (!missing_ids_.empty() &&
        !solver_.write_rows(missing_ids_, missing_outs_, symbols_.data(), block_bytes_, block_bytes_)) {
        return CodecResult::out_of_memory;
    }
    return CodecResult::success;
}

CodecResult Codec::recover_block(uint32_t block_id, std::span<uint8_t> out, uint32_t& written) {
    written = 0;
    if (encoder_ || out.data() == nullptr || block_id >= params_.block_count) return CodecResult::invalid_input;
    if (!solved_) return CodecResult::need_more;
    const uint32_t length = block_length(block_id);
    if (out.size() < length) return CodecResult::invalid_input;
    if (data_slot_[block_id] != k_no_slot) {
        std::memcpy(out.data(), slot(data_slot_[block_id]), length);
    } else {
        if (!ensure_symbols(Symbols::unknowns_solved)) return CodecResult::out_of_memory;
        write_missing_block(block_id, out.data(), length);
    }
    written = length;
    return CodecResult::success;
}

CodecResult Codec::become_encoder() {
    if (encoder_) return CodecResult::success;
    if (!solved_) return CodecResult::need_more;
    if (!ensure_symbols(Symbols::complete)) return CodecResult::out_of_memory;
    encoder_ = true;
    return CodecResult::success;
}

size_t Codec::retained_bytes() const {
    return symbols_.capacity() + received_.capacity() + solver_.retained_bytes() + dense_.retained_bytes() +
           (row_ids_.capacity() + data_slot_.capacity() + far_repair_seen_.capacity()) * sizeof(uint32_t) +
           (row_data_.capacity() + missing_outs_.capacity()) * sizeof(void*) +
           missing_ids_.capacity() * sizeof(uint32_t) + repair_seen_.capacity() * sizeof(uint64_t);
}

}  // namespace nb::fec
