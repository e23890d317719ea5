// Coefficient-matrix layer of the solver: peeling with inactivation, then
// elimination of the small dense system left over.
#include <algorithm>
#include <bit>

#include "fec/block_row.h"
#include "fec/codec_tables.h"
#include "fec/gf256.h"
#include "fec/solver.h"

namespace nb::fec {
namespace {

// The library must run on any x86-64, where std::popcount becomes a call.
uint32_t bit_count(uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<uint32_t>((x * 0x0101010101010101ULL) >> 56);
}

}  // namespace
bool Solver::plan(const CodecParams& params, const DensePattern& dense, std::span<const uint32_t> row_ids) {
    if (params_.block_count != params.block_count) moduli_ = RowModuli(params);
    params_ = params;
    dense_ = &dense;
    load_rows(row_ids);
    peel();
    build_column_vectors();
    build_binary_rows();
    if (!eliminate_binary()) return false;
    return eliminate_heavy();
}

void Solver::load_rows(std::span<const uint32_t> row_ids) {
    const uint32_t n = params_.block_count;
    row_count_ = static_cast<uint32_t>(row_ids.size());
    row_start_.resize(row_count_ + 1);
    row_mix_.resize(static_cast<size_t>(row_count_) * 3);
    row_cols_.clear();
    col_ref_start_.assign(n + 1, 0);
    for (uint32_t i = 0; i < row_count_; ++i) {
        const BlockRow row = BlockRow::for_id(params_, moduli_, row_ids[i]);
        row_start_[i] = static_cast<uint32_t>(row_cols_.size());
        row.for_each_peel_column(params_, [&](uint32_t column) {
            row_cols_.push_back(column);
            ++col_ref_start_[column + 1];
        });
        const auto mix = row.mix_columns(params_);
        for (int k = 0; k < 3; ++k) row_mix_[static_cast<size_t>(i) * 3 + k] = n + mix[k];
    }
    row_start_[row_count_] = static_cast<uint32_t>(row_cols_.size());
    for (uint32_t c = 0; c < n; ++c) col_ref_start_[c + 1] += col_ref_start_[c];
    col_refs_.resize(row_cols_.size());
    col_aux_.assign(col_ref_start_.begin(), col_ref_start_.end() - 1);  // fill cursors
    for (uint32_t i = 0; i < row_count_; ++i) {
        for (uint32_t k = row_start_[i]; k < row_start_[i + 1]; ++k) col_refs_[col_aux_[row_cols_[k]]++] = i;
    }
}

void Solver::peel() {
    const uint32_t n = params_.block_count;
    row_left_.resize(row_count_);
    row_xor_.resize(row_count_);
    row_is_pivot_.assign(row_count_, 0);
    col_state_.assign(n, k_unresolved);
    col_aux_.assign(n, k_none);
    peel_order_.clear();
    inactive_cols_.clear();
    ready_.clear();
    pairs_.clear();
    scan_cursor_ = 0;
    for (uint32_t i = 0; i < row_count_; ++i) {
        uint32_t x = 0;
        for (uint32_t k = row_start_[i]; k < row_start_[i + 1]; ++k) x ^= row_cols_[k];
        row_left_[i] = row_start_[i + 1] - row_start_[i];
        row_xor_[i] = x;
        if (row_left_[i] == 1) ready_.push_back(i);
        if (row_left_[i] == 2) pairs_.push_back(i);
    }
    uint32_t resolved = 0;
    for (;;) {
        while (!ready_.empty()) {
            const uint32_t r = ready_.back();
            ready_.pop_back();
            // A queued row may have lost its last column to another row.
            if (row_left_[r] != 1) continue;
            const uint32_t column = row_xor_[r];
            col_state_[column] = k_peeled;
            col_aux_[column] = r;
            row_is_pivot_[r] = 1;
            peel_order_.push_back(column);
            resolve(column);
            ++resolved;
        }
        if (resolved == n) break;
        inactivate(pick_inactivation());
        ++resolved;
    }
}

void Solver::resolve(uint32_t column) {
    for (uint32_t k = col_ref_start_[column]; k < col_ref_start_[column + 1]; ++k) {
        const uint32_t r = col_refs_[k];
        const uint32_t left = --row_left_[r];
        row_xor_[r] ^= column;
        if (left == 1) {
            ready_.push_back(r);
        } else if (left == 2) {
            pairs_.push_back(r);
        }
    }
}

void Solver::inactivate(uint32_t column) {
    col_state_[column] = k_inactive;
    col_aux_[column] = params_.mix_count + static_cast<uint32_t>(inactive_cols_.size());
    inactive_cols_.push_back(column);
    resolve(column);
}

uint32_t Solver::pick_inactivation() {
    // Deferring one column of a two-column row lets that row peel the other
    // at once, which keeps the dense phase small.
    while (!pairs_.empty()) {
        const uint32_t r = pairs_.back();
        pairs_.pop_back();
        if (row_left_[r] != 2) continue;
        uint32_t best = k_none;
        uint32_t best_refs = 0;
        for (uint32_t k = row_start_[r]; k < row_start_[r + 1]; ++k) {
            const uint32_t c = row_cols_[k];
            if (col_state_[c] != k_unresolved) continue;
            const uint32_t refs = col_ref_start_[c + 1] - col_ref_start_[c];
            if (best == k_none || refs > best_refs) {
                best = c;
                best_refs = refs;
            }
        }
        return best;
    }
    while (col_state_[scan_cursor_] != k_unresolved) ++scan_cursor_;
    return scan_cursor_;
}

void Solver::build_column_vectors() {
    const uint32_t n = params_.block_count;
    unknowns_ = params_.mix_count + static_cast<uint32_t>(inactive_cols_.size());
    words_ = (unknowns_ + 63) / 64;
    col_vec_.resize(static_cast<size_t>(n) * words_);
    for (const uint32_t column : peel_order_) {
        const uint32_t r = col_aux_[column];
        uint64_t* v = vec(column);
        std::fill(v, v + words_, 0);
        for (int k = 0; k < 3; ++k) {
            const uint32_t bit = row_mix_[static_cast<size_t>(r) * 3 + k] - n;
            v[bit / 64] ^= uint64_t{1} << (bit % 64);
        }
        for (uint32_t k = row_start_[r]; k < row_start_[r + 1]; ++k) {
            const uint32_t other = row_cols_[k];
            if (other == column) continue;
            if (col_state_[other] == k_inactive) {
                const uint32_t bit = col_aux_[other];
                v[bit / 64] ^= uint64_t{1} << (bit % 64);
            } else {
                const uint64_t* o = vec(other);
                for (uint32_t w = 0; w < words_; ++w) v[w] ^= o[w];
            }
        }
    }
}

void Solver::build_binary_rows() {
    const uint32_t n = params_.block_count;
    const uint32_t d = params_.dense_count;
    uint32_t leftovers = 0;
    for (uint32_t r = 0; r < row_count_; ++r) leftovers += row_is_pivot_[r] ? 0 : 1;
    bin_count_ = leftovers + d;
    bin_bits_.assign(static_cast<size_t>(bin_count_) * words_, 0);
    bin_source_.resize(bin_count_);

    uint32_t index = 0;
    for (uint32_t r = 0; r < row_count_; ++r) {
        if (row_is_pivot_[r]) continue;
        bin_source_[index] = r;
        uint64_t* bits = bin_row(index++);
        for (int k = 0; k < 3; ++k) {
            const uint32_t bit = row_mix_[static_cast<size_t>(r) * 3 + k] - n;
            bits[bit / 64] ^= uint64_t{1} << (bit % 64);
        }
        for (uint32_t k = row_start_[r]; k < row_start_[r + 1]; ++k) {
            const uint32_t c = row_cols_[k];
            if (col_state_[c] == k_inactive) {
                bits[col_aux_[c] / 64] ^= uint64_t{1} << (col_aux_[c] % 64);
            } else {
                const uint64_t* o = vec(c);
                for (uint32_t w = 0; w < words_; ++w) bits[w] ^= o[w];
            }
        }
    }

    const uint32_t dense_base = index;
    for (uint32_t t = 0; t < d; ++t) {
        bin_source_[dense_base + t] = k_dense_flag | t;
        const uint64_t* tie = dense_->tie_row(t);
        std::copy(tie, tie + dense_->tie_words(), bin_row(dense_base + t));
    }
    // The accumulator lives in the first free slot of the scratch vector.
    std::vector<uint64_t>& acc = col_vec_;
    const size_t acc_at = static_cast<size_t>(n) * words_;
    acc.resize(acc_at + words_);
    dense_->walk([&] { std::fill(acc.begin() + acc_at, acc.end(), 0); },
                 [&](uint32_t c) {
                     uint64_t* a = acc.data() + acc_at;
                     if (col_state_[c] == k_inactive) {
                         a[col_aux_[c] / 64] ^= uint64_t{1} << (col_aux_[c] % 64);
                     } else {
                         const uint64_t* o = vec(c);
                         for (uint32_t w = 0; w < words_; ++w) a[w] ^= o[w];
                     }
                 },
                 [&](uint32_t t) {
                     const uint64_t* a = acc.data() + acc_at;
                     uint64_t* bits = bin_row(dense_base + t);
                     for (uint32_t w = 0; w < words_; ++w) bits[w] ^= a[w];
                 });
}

bool Solver::eliminate_binary() {
    bin_order_.resize(bin_count_);
    for (uint32_t i = 0; i < bin_count_; ++i) bin_order_[i] = i;
    bin_ops_.clear();
    pivot_row_.assign(unknowns_, k_none);
    pivot_sequence_.clear();
    free_unknowns_.clear();
    // The heavy columns go last: pivots found before them never touch the
    // heavy rows, which keeps the GF(256) work on block data small.
    const uint32_t heavy_first = params_.mix_count - params_.heavy_cols;
    column_order_.clear();
    for (uint32_t j = 0; j < unknowns_; ++j) {
        if (j < heavy_first || j >= params_.mix_count) column_order_.push_back(j);
    }
    for (uint32_t j = heavy_first; j < params_.mix_count; ++j) column_order_.push_back(j);

    uint32_t rank = 0;
    heavy_pivot_start_ = k_none;
    for (const uint32_t j : column_order_) {
        if (j >= heavy_first && j < params_.mix_count && heavy_pivot_start_ == k_none) heavy_pivot_start_ = rank;
        const uint32_t word = j / 64;
        const uint64_t mask = uint64_t{1} << (j % 64);
        // The sparsest candidate makes the least fill-in below it and the
        // shortest back-substitution later.
        uint32_t found = k_none;
        uint32_t found_weight = 0;
        for (uint32_t p = rank; p < bin_count_; ++p) {
            const uint64_t* row = bin_row(bin_order_[p]);
            if (!(row[word] & mask)) continue;
            uint32_t weight = 0;
            for (uint32_t w = 0; w < words_; ++w) weight += bit_count(row[w]);
            if (found == k_none || weight < found_weight) {
                found = p;
                found_weight = weight;
            }
        }
        if (found == k_none) {
            free_unknowns_.push_back(j);
            // Only the heavy rows can pin the free columns down.
            if (free_unknowns_.size() > k_heavy_rows) return false;
            continue;
        }
        std::swap(bin_order_[rank], bin_order_[found]);
        const uint32_t pivot = bin_order_[rank];
        const uint64_t* p = bin_row(pivot);
        for (uint32_t q = rank + 1; q < bin_count_; ++q) {
            const uint32_t target = bin_order_[q];
            uint64_t* t = bin_row(target);
            if (!(t[word] & mask)) continue;
            for (uint32_t w = 0; w < words_; ++w) t[w] ^= p[w];
            bin_ops_.emplace_back(target, pivot);
        }
        pivot_row_[j] = pivot;
        pivot_sequence_.push_back(j);
        ++rank;
    }
    if (heavy_pivot_start_ == k_none) heavy_pivot_start_ = rank;
    return true;
}

bool Solver::eliminate_heavy() {
    const uint32_t m = params_.mix_count;
    const uint32_t hc = params_.heavy_cols;
    const auto pivots = static_cast<uint32_t>(pivot_sequence_.size());
    heavy_coef_.assign(static_cast<size_t>(k_heavy_rows) * unknowns_, 0);
    for (uint32_t r = 0; r < k_heavy_rows; ++r) {
        for (uint32_t j = 0; j < hc; ++j) heavy_row(r)[m - hc + j] = tables::heavy_coefficients[r][j];
    }
    // heavy_combo_ row r says which multiples of the pivot rows' values
    // make up heavy row r's right-hand side as the elimination goes on.
    heavy_combo_.assign(static_cast<size_t>(k_heavy_rows) * pivots, 0);
    const auto combo = [&](uint32_t r) { return heavy_combo_.data() + static_cast<size_t>(r) * pivots; };

    // Clear every pivot column from the heavy rows so only free columns
    // remain. Pivots found before the heavy columns cannot touch them.
    for (uint32_t s = heavy_pivot_start_; s < pivots; ++s) {
        const uint32_t j = pivot_sequence_[s];
        const uint64_t* bits = bin_row(pivot_row_[j]);
        for (uint32_t r = 0; r < k_heavy_rows; ++r) {
            uint8_t* h = heavy_row(r);
            const uint8_t c = h[j];
            if (c == 0) continue;
            for (uint32_t w = 0; w < words_; ++w) {
                for (uint64_t x = bits[w]; x != 0; x &= x - 1) h[w * 64 + std::countr_zero(x)] ^= c;
            }
            combo(r)[s] ^= c;
        }
    }
    // Gauss-Jordan over the free columns, carrying the combinations along,
    // so each free column ends up as one combination of pivot values.
    heavy_of_free_.assign(free_unknowns_.size(), k_none);
    bool used[k_heavy_rows] = {};
    for (size_t f = 0; f < free_unknowns_.size(); ++f) {
        const uint32_t j = free_unknowns_[f];
        uint32_t chosen = k_none;
        for (uint32_t r = 0; r < k_heavy_rows && chosen == k_none; ++r) {
            if (!used[r] && heavy_row(r)[j] != 0) chosen = r;
        }
        if (chosen == k_none) return false;
        uint8_t* h = heavy_row(chosen);
        uint8_t* hc_row = combo(chosen);
        const uint8_t inverse = Gf256::inv(h[j]);
        for (const uint32_t g : free_unknowns_) h[g] = Gf256::mul(h[g], inverse);
        for (uint32_t s = heavy_pivot_start_; s < pivots; ++s) hc_row[s] = Gf256::mul(hc_row[s], inverse);
        for (uint32_t r = 0; r < k_heavy_rows; ++r) {
            uint8_t* other = heavy_row(r);
            const uint8_t c = other[j];
            if (r == chosen || c == 0) continue;
            for (const uint32_t g : free_unknowns_) other[g] ^= Gf256::mul(c, h[g]);
            uint8_t* oc = combo(r);
            for (uint32_t s = heavy_pivot_start_; s < pivots; ++s) oc[s] ^= Gf256::mul(c, hc_row[s]);
        }
        used[chosen] = true;
        heavy_of_free_[f] = chosen;
    }
    return true;
}

size_t Solver::retained_bytes() const {
    const auto sum = [](const auto&... v) { return ((v.capacity() * sizeof(v[0])) + ...); };
    return sum(row_start_, row_cols_, row_mix_, col_ref_start_, col_refs_, row_left_, row_xor_, row_is_pivot_,
               col_state_, col_aux_, peel_order_, inactive_cols_, ready_, pairs_, col_vec_, bin_bits_, bin_source_,
               bin_order_, bin_ops_, column_order_, pivot_row_, pivot_sequence_, free_unknowns_, heavy_coef_,
               heavy_combo_, heavy_of_free_, sources_, bin_is_pivot_, row_bits_, group_entries_, op_start_,
               op_cursor_, op_sources_) +
           values_.capacity() + group_sums_.capacity();
}

}  // namespace nb::fec
