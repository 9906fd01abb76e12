// Lengths for symbols and table block together, by dynamic programming over
// the lengths in the order the table block sends them. The state after a
// symbol is its length (what a repeat code would repeat); each table's Kraft
// sum enters as a price per unit of code space (its multiplier), searched
// until the smallest price whose choice still fits is found.
#include "pack/table_lengths.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "pack/huffman_builder.h"
#include "pack/v20_codes.h"

namespace pack {

namespace {

constexpr int STATES = 16;  // lengths 0..15
constexpr int SYM_REPEAT = 16, SYM_ZEROS = 17, SYM_LONG_ZEROS = 18;
constexpr double NONE = std::numeric_limits<double>::infinity();

struct Solver {
    const uint32_t* freq = nullptr;
    int n = 0;
    const uint8_t* previous = nullptr;
    int max_length = 15;
    double price[LENGTH_CODE_SYMBOLS] = {};
    double delta_price[STATES][STATES] = {};  // [previous][length]: price of the single length symbol
    std::vector<int> table_of;     // table index of each symbol
    std::vector<double> freq_sum;  // prefix sums of freq
    std::vector<double> lambda_sum;
    std::vector<int> zero_run;     // symbols of frequency 0 from i on, at most 138
    std::vector<double> cost;      // (n + 1) * STATES: cheapest way to lengths [0, i) ending in the state
    std::vector<uint16_t> back;    // run length | state before the run << 8

    void relax(int j, int state, double c, int run, int from) {
        double& slot = cost[static_cast<size_t>(j) * STATES + state];
        if (c < slot) {
            slot = c;
            back[static_cast<size_t>(j) * STATES + state] = static_cast<uint16_t>(run | from << 8);
        }
    }

    // The cheapest lengths at the given multipliers (one per table).
    void solve(const std::vector<double>& lambda, uint8_t* out) {
        double unit[STATES];  // code space of a length, as a share of the whole
        for (int v = 0; v < STATES; ++v) unit[v] = v == 0 ? 0.0 : std::ldexp(1.0, -v);
        for (int k = 0; k < n; ++k) lambda_sum[k + 1] = lambda_sum[k] + lambda[table_of[k]];
        std::fill(cost.begin(), cost.end(), NONE);
        cost[0] = 0;
        for (int i = 0; i < n; ++i) {
            const double* here = &cost[static_cast<size_t>(i) * STATES];
            int from = 0;
            for (int v = 1; v < STATES; ++v)
                if (here[v] < here[from]) from = v;
            const double best = here[from];
            if (best == NONE) continue;
            const double f = freq[i], lam = lambda[table_of[i]];
            {
                // Every single length, without branches (they would mostly mispredict).
                const double* delta = delta_price[previous[i] & 15];
                double* next = &cost[static_cast<size_t>(i + 1) * STATES];
                uint16_t* next_back = &back[static_cast<size_t>(i + 1) * STATES];
                const uint16_t code = static_cast<uint16_t>(1 | from << 8);
                for (int l = 0; l < STATES; ++l) {
                    double c = best + delta[l] + f * l + lam * unit[l];
                    if ((l == 0 && f != 0) || l > max_length) c = NONE;
                    const bool better = c < next[l];
                    next[l] = better ? c : next[l];
                    next_back[l] = better ? code : next_back[l];
                }
            }
            if (i > 0) {
                for (int v = 0; v <= max_length; ++v) {
                    if (here[v] == NONE) continue;
                    // Where a single length v from the cheapest state costs
                    // no more, a run of r from v is no better than that
                    // single followed by a run of r - 1.
                    const int longest = here[v] >= best + price[(v - previous[i]) & 15] ? 3 : 6;
                    for (int r = 3; r <= longest && i + r <= n; ++r) {
                        if (v == 0 && r > zero_run[i]) break;
                        double spent = v == 0 ? 0.0
                                              : v * (freq_sum[i + r] - freq_sum[i]) +
                                                    unit[v] * (lambda_sum[i + r] - lambda_sum[i]);
                        relax(i + r, v, here[v] + price[SYM_REPEAT] + 2 + spent, r, v);
                    }
                }
            }
            for (int r = 3; r <= std::min(10, zero_run[i]); ++r) relax(i + r, 0, best + price[SYM_ZEROS] + 3, r, from);
            // A long run ends where the zeros do, or up to ten before (the
            // rest a short run); shorter ones only serve a length given to
            // an unused symbol further on, which the shortest leaves room for.
            if (const int z = zero_run[i]; z >= 11) {
                relax(i + 11, 0, best + price[SYM_LONG_ZEROS] + 7, 11, from);
                for (int r = std::max(12, z - 10); r <= z; ++r)
                    relax(i + r, 0, best + price[SYM_LONG_ZEROS] + 7, r, from);
            }
        }
        const double* last = &cost[static_cast<size_t>(n) * STATES];
        int state = static_cast<int>(std::min_element(last, last + STATES) - last);
        for (int j = n; j > 0;) {
            uint16_t b = back[static_cast<size_t>(j) * STATES + state];
            int run = b & 0xFF;
            for (int k = j - run; k < j; ++k) out[k] = static_cast<uint8_t>(state);
            j -= run;
            state = b >> 8;
        }
    }
};

// Code space used by lengths [begin, end), in units of 2^-max_length.
uint64_t kraft(const uint8_t* lengths, int begin, int end, int max_length) {
    uint64_t sum = 0;
    for (int i = begin; i < end; ++i)
        if (lengths[i]) sum += uint64_t{1} << (max_length - lengths[i]);
    return sum;
}

}  // namespace

void tune_table_lengths(const uint32_t* freq, int count, const int* table_ends, int tables, const uint8_t* previous,
                        const uint8_t* length_code_lengths, int max_length, uint8_t* lengths, double* multipliers) {
    Solver s;
    s.freq = freq;
    s.n = count;
    s.previous = previous;
    s.max_length = std::min(max_length, STATES - 1);
    for (int k = 0; k < LENGTH_CODE_SYMBOLS; ++k) s.price[k] = length_code_lengths[k] ? length_code_lengths[k] : max_length;
    for (int p = 0; p < STATES; ++p)
        for (int l = 0; l < STATES; ++l) s.delta_price[p][l] = s.price[(l - p) & 15];
    s.table_of.resize(count);
    s.freq_sum.assign(count + 1, 0.0);
    s.lambda_sum.assign(count + 1, 0.0);
    s.zero_run.assign(count + 1, 0);
    s.cost.resize(static_cast<size_t>(count + 1) * STATES);
    s.back.assign(static_cast<size_t>(count + 1) * STATES, 0);
    std::vector<int> begin(tables);
    for (int t = 0, i = 0; t < tables; ++t) {
        begin[t] = i;
        for (; i < table_ends[t]; ++i) s.table_of[i] = t;
    }
    for (int i = 0; i < count; ++i) s.freq_sum[i + 1] = s.freq_sum[i] + freq[i];
    for (int i = count - 1; i >= 0; --i) s.zero_run[i] = freq[i] ? 0 : std::min(138, s.zero_run[i + 1] + 1);

    const uint64_t space = uint64_t{1} << s.max_length;
    const bool warm = multipliers[0] > 0;
    for (int t = 0; t < tables; ++t)
        if (multipliers[t] <= 0)
            multipliers[t] = std::max(1.0, s.freq_sum[table_ends[t]] - s.freq_sum[begin[t]]) / std::log(2.0);
    std::vector<double> lambda(multipliers, multipliers + tables);
    auto fits = [&](int t) { return kraft(lengths, begin[t], table_ends[t], s.max_length) <= space; };
    // Each table's multiplier in turn, the others held: the smallest that
    // fits, to within about 1%. The search steps from the guess by a factor
    // that is small when the guess is one found before.
    const double step = warm ? 1.25 : 2.0;
    const int halvings = warm ? 4 : 6;
    for (int t = 0; t < tables; ++t) {
        if (s.freq_sum[table_ends[t]] == s.freq_sum[begin[t]]) {
            lambda[t] = 1e6;  // no symbol to code: any length only costs
            continue;
        }
        double lo = 0, hi = lambda[t];
        s.solve(lambda, lengths);
        if (fits(t)) {
            for (int k = 0; k < 20; ++k) {
                lambda[t] = hi / step;
                s.solve(lambda, lengths);
                if (!fits(t)) {
                    lo = lambda[t];
                    break;
                }
                hi = lambda[t];
            }
        } else {
            do {
                lo = hi;
                hi *= step;
                lambda[t] = hi;
                s.solve(lambda, lengths);
            } while (!fits(t) && hi < 1e15);
        }
        for (int k = 0; k < halvings && lo > 0; ++k) {
            lambda[t] = std::sqrt(lo * hi);
            s.solve(lambda, lengths);
            if (fits(t)) hi = lambda[t];
            else lo = lambda[t];
        }
        lambda[t] = hi;
    }
    // A choice for one table can still push a neighbour over through a run
    // that spans both: raise what does not fit until everything does.
    for (int round = 0;; ++round) {
        s.solve(lambda, lengths);
        bool all = true;
        for (int t = 0; t < tables; ++t)
            if (!fits(t)) {
                lambda[t] *= 2;
                all = false;
            }
        if (all) {
            std::copy(lambda.begin(), lambda.end(), multipliers);
            break;
        }
        if (round == 50) {  // not met in reason: the plain code, which always fits
            for (int t = 0; t < tables; ++t)
                build_code_lengths(freq + begin[t], table_ends[t] - begin[t], s.max_length, lengths + begin[t]);
            return;
        }
    }
    // Code space left over goes to the most frequent symbols that fit it.
    for (int t = 0; t < tables; ++t) {
        uint64_t slack = space - kraft(lengths, begin[t], table_ends[t], s.max_length);
        for (;;) {
            int pick = -1;
            for (int i = begin[t]; i < table_ends[t]; ++i)
                if (freq[i] && lengths[i] > 1 && (uint64_t{1} << (s.max_length - lengths[i])) <= slack &&
                    (pick < 0 || freq[i] > freq[pick]))
                    pick = i;
            if (pick < 0) break;
            slack -= uint64_t{1} << (s.max_length - lengths[pick]);
            --lengths[pick];
        }
    }
}

}  // namespace pack
