#include "bar_record_writer.h"

#include <nlohmann/json.hpp>

namespace {

std::string json(const nlohmann::ordered_json& value) {
    // Texts come from servers in the end; a stray invalid byte must not stop the bar.
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

const char* waybarClass(const BarView& view) {
    if (view.failure) {
        return "error";
    }
    return view.source.isEmpty() ? "pending" : "ok";
}

} // namespace

BarRecordWriter::BarRecordWriter(BarFormat format, std::FILE* out) : format_(format), out_(out) {}

std::string BarRecordWriter::record(BarFormat format, const BarView& view) {
    switch (format) {
    case BarFormat::plain:
        return view.title.toStdString();
    case BarFormat::waybar:
        return json({{"text", view.title.toStdString()},
                     {"alt", view.source.toStdString()},
                     {"tooltip", view.tooltip.join('\n').toStdString()},
                     {"class", waybarClass(view)}});
    case BarFormat::i3bar: {
        nlohmann::ordered_json block = {{"name", "brimwell-ticker"},
                                        {"full_text", view.title.toStdString()}};
        if (view.failure) {
            block["color"] = "#FF0000";
        }
        return json(nlohmann::ordered_json::array({block}));
    }
    }
    return {};
}

bool BarRecordWriter::write(const std::string& record) {
    std::string text;
    if (format_ == BarFormat::i3bar && first_) {
        text = "{\"version\":1}\n[\n";
    } else if (format_ == BarFormat::i3bar) {
        text = ",";
    }
    first_ = false;
    text += record;
    text += '\n';
    return std::fwrite(text.data(), 1, text.size(), out_) == text.size() && std::fflush(out_) == 0;
}
