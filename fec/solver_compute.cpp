// Block-data layer of the solver: replays a finished plan on the blocks.
#include <bit>
#include <cstring>

#include "fec/block_ops.h"
#include "fec/block_row.h"
#include "fec/solver.h"

namespace nb::fec {

bool Solver::compute(std::span<const uint8_t* const> row_data, uint8_t* symbols, size_t block_bytes) {
    if (!solve_unknowns(row_data, symbols, block_bytes)) return false;
    finish_peeled(row_data, symbols, block_bytes);
    return true;
}

bool Solver::solve_unknowns(std::span<const uint8_t* const> row_data, uint8_t* symbols, size_t block_bytes) {
    const size_t bytes = block_bytes;
    const auto symbol = [&](uint32_t column) { return symbols + static_cast<size_t>(column) * bytes; };
    // Scratch: one value per binary row and one accumulator.
    uint8_t* scratch = values_.reserve((static_cast<size_t>(bin_count_) + 1) * bytes);
    if (scratch == nullptr) return false;
    const auto value = [&](uint32_t row) { return scratch + static_cast<size_t>(row) * bytes; };
    uint8_t* acc = value(bin_count_);

    // 1. Peeled columns, ignoring the unknowns of the dense phase for now.
    for (const uint32_t column : peel_order_) {
        const uint32_t r = col_aux_[column];
        sources_.clear();
        sources_.push_back(row_data[r]);
        for (uint32_t k = row_start_[r]; k < row_start_[r + 1]; ++k) {
            const uint32_t other = row_cols_[k];
            if (other != column && col_state_[other] == k_peeled) sources_.push_back(symbol(other));
        }
        xor_sum(symbol(column), sources_, bytes);
    }

    // 2. Right-hand sides of the binary rows that ended up as pivots; the
    // others reduced to nothing and are never read.
    std::vector<uint8_t>& is_pivot = bin_is_pivot_;
    is_pivot.assign(bin_count_, 0);
    for (const uint32_t j : pivot_sequence_) is_pivot[pivot_row_[j]] = 1;
    uint32_t dense_base = bin_count_ - params_.dense_count;
    for (uint32_t i = 0; i < dense_base; ++i) {
        if (!is_pivot[i]) continue;
        const uint32_t r = bin_source_[i];
        sources_.clear();
        sources_.push_back(row_data[r]);
        for (uint32_t k = row_start_[r]; k < row_start_[r + 1]; ++k) {
            const uint32_t c = row_cols_[k];
            if (col_state_[c] == k_peeled) sources_.push_back(symbol(c));
        }
        xor_sum(value(i), sources_, bytes);
    }
    for (uint32_t t = 0; t < params_.dense_count; ++t) {
        if (is_pivot[dense_base + t]) std::memset(value(dense_base + t), 0, bytes);
    }
    bool acc_zero = true;
    dense_->walk(
        [&] {
            sources_.clear();
            acc_zero = true;
        },
        [&](uint32_t c) {
            if (col_state_[c] == k_peeled) sources_.push_back(symbol(c));
        },
        [&](uint32_t t) {
            // Toggles are batched so the accumulator is rewritten once per
            // emit, in the same pass that adds it to the dense row.
            uint8_t* target = is_pivot[dense_base + t] ? value(dense_base + t) : nullptr;
            if (!sources_.empty()) {
                if (!acc_zero) sources_.push_back(acc);
                if (target != nullptr) {
                    xor_sum_and_add(acc, target, sources_, bytes);
                } else {
                    xor_sum(acc, sources_, bytes);
                }
                sources_.clear();
                acc_zero = false;
            } else if (!acc_zero && target != nullptr) {
                xor_into(target, acc, bytes);
            }
        });

    // 3. Forward elimination, grouped by target: a pivot row receives all of
    // its updates in one pass, from pivots that are already final.
    op_start_.assign(bin_count_ + 1, 0);
    for (const auto& op : bin_ops_) {
        if (is_pivot[op.first]) ++op_start_[op.first + 1];
    }
    for (uint32_t i = 0; i < bin_count_; ++i) op_start_[i + 1] += op_start_[i];
    op_sources_.resize(op_start_[bin_count_]);
    {
        std::vector<uint32_t>& cursor = op_cursor_;
        cursor.assign(op_start_.begin(), op_start_.end() - 1);
        for (const auto& op : bin_ops_) {
            if (is_pivot[op.first]) op_sources_[cursor[op.first]++] = op.second;
        }
    }
    for (const uint32_t j : pivot_sequence_) {
        const uint32_t row = pivot_row_[j];
        if (op_start_[row] == op_start_[row + 1]) continue;
        sources_.clear();
        sources_.push_back(value(row));
        for (uint32_t k = op_start_[row]; k < op_start_[row + 1]; ++k) sources_.push_back(value(op_sources_[k]));
        xor_sum(value(row), sources_, bytes);
    }

    // 4. Free columns, each a GF(256) combination of pivot values that the
    // heavy rows determined.
    const auto pivots = static_cast<uint32_t>(pivot_sequence_.size());
    for (size_t f = 0; f < free_unknowns_.size(); ++f) {
        uint8_t* target = symbol(unknown_column(free_unknowns_[f]));
        const uint8_t* combo = heavy_combo_.data() + static_cast<size_t>(heavy_of_free_[f]) * pivots;
        std::memset(target, 0, bytes);
        for (uint32_t s = heavy_pivot_start_; s < pivots; ++s) {
            if (combo[s] != 0) mul_add(target, value(pivot_row_[pivot_sequence_[s]]), combo[s], bytes);
        }
    }

    // 5. Back-substitution: each pivot row only refers to free columns and
    // to pivots found after it.
    for (auto it = pivot_sequence_.rbegin(); it != pivot_sequence_.rend(); ++it) {
        const uint32_t j = *it;
        const uint32_t row = pivot_row_[j];
        const uint64_t* bits = bin_row(row);
        sources_.clear();
        sources_.push_back(value(row));
        for (uint32_t w = 0; w < words_; ++w) {
            for (uint64_t x = bits[w]; x != 0; x &= x - 1) {
                const uint32_t b = w * 64 + static_cast<uint32_t>(std::countr_zero(x));
                if (b != j) sources_.push_back(symbol(unknown_column(b)));
            }
        }
        xor_sum(symbol(unknown_column(j)), sources_, bytes);
    }
    return true;
}

void Solver::finish_peeled(std::span<const uint8_t* const> row_data, uint8_t* symbols, size_t block_bytes) {
    const size_t bytes = block_bytes;
    const auto symbol = [&](uint32_t column) { return symbols + static_cast<size_t>(column) * bytes; };
    // Peeled columns again, now with every other column of their row known.
    for (const uint32_t column : peel_order_) {
        const uint32_t r = col_aux_[column];
        sources_.clear();
        sources_.push_back(row_data[r]);
        for (uint32_t k = row_start_[r]; k < row_start_[r + 1]; ++k) {
            const uint32_t other = row_cols_[k];
            if (other != column) sources_.push_back(symbol(other));
        }
        for (int k = 0; k < 3; ++k) sources_.push_back(symbol(row_mix_[static_cast<size_t>(r) * 3 + k]));
        xor_sum(symbol(column), sources_, bytes);
    }
}

void Solver::gather_row(uint32_t block_id, const uint8_t* symbols, size_t stride) {
    const BlockRow row = BlockRow::for_id(params_, moduli_, block_id);
    // The row in terms of the unknowns: its own mix and inactive columns,
    // plus what each of its peeled columns stands for.
    row_bits_.assign(words_, 0);
    sources_.clear();
    for (const uint32_t m : row.mix_columns(params_)) row_bits_[m / 64] ^= uint64_t{1} << (m % 64);
    row.for_each_peel_column(params_, [&](uint32_t c) {
        if (col_state_[c] == k_inactive) {
            row_bits_[col_aux_[c] / 64] ^= uint64_t{1} << (col_aux_[c] % 64);
            return;
        }
        sources_.push_back(symbols + static_cast<size_t>(c) * stride);
        const uint64_t* v = vec(c);
        for (uint32_t w = 0; w < words_; ++w) row_bits_[w] ^= v[w];
    });
}

void Solver::write_row(uint32_t block_id, const uint8_t* symbols, uint8_t* out, size_t bytes, size_t stride) {
    gather_row(block_id, symbols, stride);
    for (uint32_t w = 0; w < words_; ++w) {
        for (uint64_t x = row_bits_[w]; x != 0; x &= x - 1) {
            const uint32_t b = w * 64 + static_cast<uint32_t>(std::countr_zero(x));
            sources_.push_back(symbols + static_cast<size_t>(unknown_column(b)) * stride);
        }
    }
    xor_sum(out, sources_, bytes);
}

bool Solver::write_rows(std::span<const uint32_t> block_ids, std::span<uint8_t* const> outs, const uint8_t* symbols,
                        size_t bytes, size_t stride) {
    // A table costs about eleven block XORs per group and saves about a
    // quarter of the unknowns per row; below this many rows it does not pay.
    constexpr size_t k_table_rows = 40;
    const uint32_t groups = (unknowns_ + 3) / 4;
    if (block_ids.size() < k_table_rows || unknowns_ < 32) {
        for (size_t i = 0; i < block_ids.size(); ++i) write_row(block_ids[i], symbols, outs[i], bytes, stride);
        return true;
    }
    uint8_t* table = group_sums_.reserve(static_cast<size_t>(groups) * 11 * bytes);
    if (table == nullptr) return false;
    group_entries_.assign(static_cast<size_t>(groups) * 16, nullptr);
    size_t next = 0;
    for (uint32_t g = 0; g < groups; ++g) {
        const uint8_t** entry = group_entries_.data() + static_cast<size_t>(g) * 16;
        for (uint32_t v = 1; v < 16; ++v) {
            // The last group may be short; combinations beyond it never occur.
            if (g * 4 + static_cast<uint32_t>(std::bit_width(v)) > unknowns_) continue;
            const uint32_t b = g * 4 + static_cast<uint32_t>(std::countr_zero(v));
            const uint8_t* single = symbols + static_cast<size_t>(unknown_column(b)) * stride;
            if ((v & (v - 1)) == 0) {
                entry[v] = single;
                continue;
            }
            uint8_t* sum = table + next++ * bytes;
            const uint8_t* parts[2] = {entry[v & (v - 1)], single};
            xor_sum(sum, parts, bytes);
            entry[v] = sum;
        }
    }
    for (size_t i = 0; i < block_ids.size(); ++i) {
        gather_row(block_ids[i], symbols, stride);
        for (uint32_t g = 0; g < groups; ++g) {
            const uint32_t nibble = static_cast<uint32_t>(row_bits_[g / 16] >> ((g % 16) * 4)) & 15;
            if (nibble != 0) sources_.push_back(group_entries_[static_cast<size_t>(g) * 16 + nibble]);
        }
        xor_sum(outs[i], sources_, bytes);
    }
    return true;
}

}  // namespace nb::fec
