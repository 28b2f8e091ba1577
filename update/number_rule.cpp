#include "update/number_rule.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qalu::update {

namespace {

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Unsigned integers of any size, base 2^32, least significant limb first, no zero limb on top.
using Limbs = std::vector<std::uint32_t>;

void multiplyAdd(Limbs &a, std::uint32_t factor, std::uint32_t addend)
{
    std::uint64_t carry = addend;
    for (std::uint32_t &limb : a) {
        const std::uint64_t t = std::uint64_t { limb } * factor + carry;
        limb = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    if (carry != 0)
        a.push_back(static_cast<std::uint32_t>(carry));
}

int bitLength(const Limbs &a)
{
    return a.empty() ? 0 : int(a.size() - 1) * 32 + static_cast<int>(std::bit_width(a.back()));
}

bool bitAt(const Limbs &a, int i)
{
    const auto limb = std::size_t(i / 32);
    return limb < a.size() && ((a[limb] >> (i % 32)) & 1u) != 0;
}

bool anyBitBelow(const Limbs &a, int n)
{
    for (int i = 0; i < n; ++i) {
        if (bitAt(a, i))
            return true;
    }
    return false;
}

Limbs shiftedLeft(const Limbs &a, int bits)
{
    Limbs r(std::size_t(bits / 32), 0);
    const int s = bits % 32;
    std::uint32_t carry = 0;
    for (std::uint32_t limb : a) {
        r.push_back(s == 0 ? limb : (limb << s) | carry);
        carry = s == 0 ? 0 : limb >> (32 - s);
    }
    if (carry != 0)
        r.push_back(carry);
    return r;
}

int compare(const Limbs &a, const Limbs &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

void subtract(Limbs &a, const Limbs &b) // a >= b
{
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::int64_t t = std::int64_t { a[i] } - borrow - (i < b.size() ? std::int64_t { b[i] } : 0);
        borrow = t < 0 ? 1 : 0;
        a[i] = static_cast<std::uint32_t>(t + (borrow << 32));
    }
    while (!a.empty() && a.back() == 0)
        a.pop_back();
}

// Rounds the decimal value digits x 10^decimalExponent to the nearest double, in two steps: first
// to 64 significant bits (the x87 extended format the rule is defined by), then to a double, both
// to nearest with ties to even. Done on integers, so every compiler gives the same double, also
// where long double is no wider than double (MSVC). Fails from 2^1024 on after the second step.
bool roundDecimal(bool negative, const std::string &text, long long decimalExponent, double *value)
{
    std::string_view digits(text);
    while (!digits.empty() && digits.front() == '0')
        digits.remove_prefix(1);
    auto count = static_cast<long long>(digits.size());
    if (count == 0 || count + decimalExponent <= -330) { // below 1e-330: zero even after rounding
        *value = negative ? -0.0 : 0.0;
        return true;
    }
    if (count - 1 + decimalExponent >= 309) // at least 1e309
        return false;

    // A rounding boundary in this range has fewer than 900 significant digits, so the digits past
    // the first 1100 only matter as "some are not zero": one digit 1 stands for them.
    std::string kept(digits.substr(0, std::min<std::size_t>(digits.size(), 1100)));
    if (digits.size() > kept.size()) {
        if (digits.substr(kept.size()).find_first_not_of('0') != std::string_view::npos)
            kept.push_back('1');
        decimalExponent += count - static_cast<long long>(kept.size());
    }

    Limbs q;
    for (char c : kept)
        multiplyAdd(q, 10, std::uint32_t(c - '0'));
    bool sticky = false; // the value is a little above q x 2^binaryExponent
    int binaryExponent = 0;
    if (decimalExponent >= 0) {
        for (long long i = 0; i < decimalExponent; ++i)
            multiplyAdd(q, 10, 0);
    } else {
        Limbs divisor { 1 };
        for (long long i = 0; i < -decimalExponent; ++i)
            multiplyAdd(divisor, 10, 0);
        // At least 66 quotient bits: 64 kept, one to round on, the remainder as sticky.
        const int shift = std::max(0, bitLength(divisor) - bitLength(q) + 66);
        Limbs remainder = shiftedLeft(q, shift);
        q.clear();
        for (int bit = bitLength(remainder) - bitLength(divisor) + 1; bit >= 0; --bit) {
            const Limbs part = shiftedLeft(divisor, bit);
            if (compare(remainder, part) >= 0) {
                subtract(remainder, part);
                if (q.size() <= std::size_t(bit / 32))
                    q.resize(std::size_t(bit / 32) + 1, 0);
                q[std::size_t(bit / 32)] |= 1u << (bit % 32);
            }
        }
        sticky = !remainder.empty();
        binaryExponent = -shift;
    }

    // First step: 64 significant bits.
    const int length = bitLength(q);
    std::uint64_t mantissa = 0;
    int exponent = binaryExponent; // value ~ mantissa x 2^exponent
    if (length <= 64) {
        for (int i = length - 1; i >= 0; --i)
            mantissa = (mantissa << 1) | (bitAt(q, i) ? 1u : 0u);
        mantissa <<= 64 - length;
        exponent -= 64 - length;
    } else {
        const int drop = length - 64;
        for (int i = length - 1; i >= drop; --i)
            mantissa = (mantissa << 1) | (bitAt(q, i) ? 1u : 0u);
        const bool half = bitAt(q, drop - 1);
        sticky = sticky || anyBitBelow(q, drop - 1);
        exponent += drop;
        if (half && (sticky || (mantissa & 1u) != 0)) {
            if (++mantissa == 0) {
                mantissa = std::uint64_t { 1 } << 63;
                ++exponent;
            }
        }
    }
    if (exponent + 63 >= 1024)
        return false;

    // Second step: 53 bits, fewer below the normal range (the last bit is worth 2^-1074).
    const int last = std::max(exponent + 11, -1074);
    const int drop = last - exponent;
    std::uint64_t kept53 = 0;
    bool up = false;
    if (drop < 64) {
        kept53 = mantissa >> drop;
        const std::uint64_t rest = mantissa & ((std::uint64_t { 1 } << drop) - 1);
        const std::uint64_t halfway = std::uint64_t { 1 } << (drop - 1);
        up = rest > halfway || (rest == halfway && (kept53 & 1u) != 0);
    } else if (drop == 64) {
        up = mantissa > (std::uint64_t { 1 } << 63);
    }
    if (up)
        ++kept53;
    const double magnitude = std::ldexp(static_cast<double>(kept53), last);
    if (std::isinf(magnitude))
        return false;
    *value = negative ? -magnitude : magnitude;
    return true;
}

// Parses `text` by the number rule; on failure says which part of the rule it broke.
bool parse(const QString &text, QChar decimalSeparator, double *value, QString *problem)
{
    const auto fail = [&](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    const auto unexpected = [&](qsizetype at) {
        const QChar c = text.at(at);
        const QString shown
            = c.unicode() < 32 ? QStringLiteral("code %1").arg(c.unicode()) : QStringLiteral("'%1'").arg(c);
        return fail(
            QStringLiteral("character %1 at position %2 is not allowed there").arg(shown).arg(at + 1));
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && text.at(i).unicode() == 32)
        ++i;

    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }

    std::string digits;
    const qsizetype mantissaStart = i;
    while (i < n && isDigit(text.at(i)))
        digits.push_back(char(text.at(i++).unicode()));
    long long fractionDigits = 0;
    if (i < n && text.at(i) == decimalSeparator) {
        ++i;
        while (i < n && isDigit(text.at(i))) {
            digits.push_back(char(text.at(i++).unicode()));
            ++fractionDigits;
        }
    }
    if (i == mantissaStart)
        return i < n ? unexpected(i) : fail(QStringLiteral("no digits"));

    long long exponent = 0;
    if (i < n && (text.at(i) == u'E' || text.at(i) == u'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
            negativeExponent = text.at(i) == u'-';
            ++i;
        }
        // Digits stop being taken once the exponent reaches 500; any digit left over then
        // fails the text below, as anything else that is not a trailing blank does.
        while (i < n && isDigit(text.at(i)) && exponent < 500)
            exponent = exponent * 10 + (text.at(i++).unicode() - u'0');
        if (negativeExponent)
            exponent = -exponent;
    }

    while (i < n && text.at(i).unicode() == 32)
        ++i;
    if (i != n)
        return unexpected(i);

    if (!roundDecimal(negative, digits, exponent - fractionDigits, value))
        return fail(QStringLiteral("beyond the range of a double"));
    return true;
}

} // namespace

PriceText parsePrice(const QString &text, QChar decimalSeparator)
{
    PriceText result;
    double value = 0;
    if (parse(text, decimalSeparator, &value, &result.problem))
        result.value = value;
    return result;
}

} // namespace qalu::update
