#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// A currency the price of bitcoin is asked for and shown in, with the names each price
// service gives it. Every service quotes all of them; US dollars unless the user chose
// another.
struct Currency {
    // "EUR": how the user names it, and the key of mempool.space's and blockchain.info's
    // answers.
    std::string_view code;
    // "euros", in texts for people.
    std::string_view name;
    // What stands before an amount in an alert: "€", "CA$", "CHF ".
    std::string_view sign;
    // Coinbase's product, "BTC-EUR".
    std::string_view coinbaseProduct;
    // The pair asked of Kraken, "XBTEUR", and the key its answer files the pair under,
    // "XXBTZEUR" (for some pairs the same).
    std::string_view krakenPair;
    std::string_view krakenKey;
    // CoinGecko's name for it, "eur".
    std::string_view coinGeckoCode;

    bool operator==(const Currency&) const = default;

    static constexpr Currency usd();
    // The currency whose code is `code` exactly (upper case); nullopt for any other text.
    static std::optional<Currency> fromCode(std::string_view code);
    // "USD, EUR, GBP, CAD, CHF, AUD or JPY", for messages.
    static std::string codeList();
};

inline constexpr std::array<Currency, 7> currencies{{
    {"USD", "US dollars", "$", "BTC-USD", "XBTUSD", "XXBTZUSD", "usd"},
    {"EUR", "euros", "\u20AC", "BTC-EUR", "XBTEUR", "XXBTZEUR", "eur"},
    {"GBP", "pounds sterling", "\u00A3", "BTC-GBP", "XBTGBP", "XXBTZGBP", "gbp"},
    {"CAD", "Canadian dollars", "CA$", "BTC-CAD", "XBTCAD", "XXBTZCAD", "cad"},
    {"CHF", "Swiss francs", "CHF ", "BTC-CHF", "XBTCHF", "XBTCHF", "chf"},
    {"AUD", "Australian dollars", "A$", "BTC-AUD", "XBTAUD", "XBTAUD", "aud"},
    {"JPY", "yen", "\u00A5", "BTC-JPY", "XBTJPY", "XXBTZJPY", "jpy"},
}};

constexpr Currency Currency::usd() {
    return currencies[0];
}
