#pragma once

#include "bar_format.h"
#include "bar_view.h"

#include <cstdio>
#include <string>

// Writes one record per view to a stream in the bar's format, flushed at once: a plain
// line, a waybar JSON object per line, or the i3bar protocol (a header, then an endless
// array of one-block arrays).
class BarRecordWriter {
public:
    BarRecordWriter(BarFormat format, std::FILE* out);

    // Writes a record made by record(); false once the stream can no longer be written
    // (the bar has gone away).
    bool write(const std::string& record);

    // The record alone, without the i3bar framing.
    static std::string record(BarFormat format, const BarView& view);

private:
    BarFormat format_;
    std::FILE* out_;
    bool first_ = true;
};
