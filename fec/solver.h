// Solves the code's linear system for the intermediate symbols. Work is in
// two layers: plan() eliminates the coefficient matrix alone (peeling,
// then a small dense GF(2) elimination that the GF(256) heavy rows
// complete) and records what to do; compute() replays that on block data,
// touching each block as few times as it can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "fec/block_buffer.h"
#include "fec/block_row.h"
#include "fec/codec_params.h"
#include "fec/dense_pattern.h"

namespace nb::fec {

class Solver {
public:
    // Eliminates the system made of the rows of `row_ids` plus the dense
    // and heavy rows. True when it determines every intermediate symbol.
    bool plan(const CodecParams& params, const DensePattern& dense, std::span<const uint32_t> row_ids);

    // After a successful plan(): writes all column_count() intermediate
    // symbols to `symbols` (block_bytes each, consecutive). row_data[i] is
    // the block of row_ids[i]. False if scratch memory could not be had.
    bool compute(std::span<const uint8_t* const> row_data, uint8_t* symbols, size_t block_bytes);

    // compute() in two steps. The first leaves the mix and inactive columns
    // final and each peeled column holding only its share from the blocks;
    // write_row() can build any block from that state, which is cheaper
    // than finishing every column when only a few blocks are missing.
    bool solve_unknowns(std::span<const uint8_t* const> row_data, uint8_t* symbols, size_t block_bytes);
    void finish_peeled(std::span<const uint8_t* const> row_data, uint8_t* symbols, size_t block_bytes);
    // Block `block_id` (first `bytes` bytes) from symbols in the state
    // solve_unknowns() left them in; stride is the full block size.
    void write_row(uint32_t block_id, const uint8_t* symbols, uint8_t* out, size_t bytes, size_t stride);
    // write_row() for many blocks at once (block_ids[i] into outs[i]).
    // With enough of them it first tabulates the sums of each group of four
    // unknowns, which roughly halves the blocks read per row.
    bool write_rows(std::span<const uint32_t> block_ids, std::span<uint8_t* const> outs, const uint8_t* symbols,
                    size_t bytes, size_t stride);

    // Bytes of heap the solver holds for reuse.
    size_t retained_bytes() const;

private:
    static constexpr uint32_t k_none = 0xFFFFFFFFu;
    static constexpr uint32_t k_dense_flag = 0x80000000u;
    enum ColumnState : uint8_t { k_unresolved = 0, k_peeled = 1, k_inactive = 2 };

    void load_rows(std::span<const uint32_t> row_ids);
    void peel();
    void inactivate(uint32_t column);
    void resolve(uint32_t column);
    uint32_t pick_inactivation();
    void build_column_vectors();
    // Fills row_bits_ with `block_id`'s row over the unknowns and sources_
    // with the peeled columns' partial values it needs.
    void gather_row(uint32_t block_id, const uint8_t* symbols, size_t stride);
    void build_binary_rows();
    bool eliminate_binary();
    bool eliminate_heavy();

    uint64_t* vec(uint32_t column) { return col_vec_.data() + static_cast<size_t>(column) * words_; }
    uint64_t* bin_row(uint32_t row) { return bin_bits_.data() + static_cast<size_t>(row) * words_; }
    uint8_t* heavy_row(uint32_t row) { return heavy_coef_.data() + static_cast<size_t>(row) * unknowns_; }
    // Intermediate column of a dense-phase unknown.
    uint32_t unknown_column(uint32_t bit) const {
        return bit < params_.mix_count ? params_.block_count + bit : inactive_cols_[bit - params_.mix_count];
    }

    CodecParams params_;
    RowModuli moduli_;
    const DensePattern* dense_ = nullptr;

    // Received rows: peel columns (flat), intermediate mix columns.
    uint32_t row_count_ = 0;
    std::vector<uint32_t> row_start_;
    std::vector<uint32_t> row_cols_;
    std::vector<uint32_t> row_mix_;
    // Rows that reference each peel column.
    std::vector<uint32_t> col_ref_start_;
    std::vector<uint32_t> col_refs_;

    // Peeling state.
    std::vector<uint32_t> row_left_;  // unresolved peel columns per row
    std::vector<uint32_t> row_xor_;   // XOR of those columns' indices
    std::vector<uint8_t> row_is_pivot_;
    std::vector<uint8_t> col_state_;
    std::vector<uint32_t> col_aux_;  // pivot row if peeled, unknown index if inactive
    std::vector<uint32_t> peel_order_;
    std::vector<uint32_t> inactive_cols_;
    std::vector<uint32_t> ready_;      // rows with one unresolved column
    std::vector<uint32_t> pairs_;      // rows that dropped to two
    uint32_t scan_cursor_ = 0;

    // Dense phase: unknowns are the mix columns then the inactive columns.
    uint32_t unknowns_ = 0;
    uint32_t words_ = 0;
    std::vector<uint64_t> col_vec_;  // peeled column in terms of unknowns
    std::vector<uint64_t> bin_bits_;
    std::vector<uint32_t> bin_source_;  // received row, or k_dense_flag | dense row
    uint32_t bin_count_ = 0;
    std::vector<uint32_t> bin_order_;
    std::vector<std::pair<uint32_t, uint32_t>> bin_ops_;  // (target, source)
    std::vector<uint32_t> column_order_;  // elimination order of the unknowns
    std::vector<uint32_t> pivot_row_;  // per unknown, or k_none for free ones
    std::vector<uint32_t> pivot_sequence_;  // unknowns with a binary pivot, ascending
    std::vector<uint32_t> free_unknowns_;
    uint32_t heavy_pivot_start_ = 0;  // first pivot_sequence_ entry on a heavy column

    std::vector<uint8_t> heavy_coef_;
    std::vector<uint8_t> heavy_combo_;  // per heavy row: coefficient of each pivot's value
    std::vector<uint32_t> heavy_of_free_;

    // compute() scratch.
    BlockBuffer values_;
    std::vector<const uint8_t*> sources_;
    std::vector<uint8_t> bin_is_pivot_;
    std::vector<uint64_t> row_bits_;
    BlockBuffer group_sums_;
    std::vector<const uint8_t*> group_entries_;  // 16 per group of four unknowns
    std::vector<uint32_t> op_start_;
    std::vector<uint32_t> op_cursor_;
    std::vector<uint32_t> op_sources_;
};

}  // namespace nb::fec
