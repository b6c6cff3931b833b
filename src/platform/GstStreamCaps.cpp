#include "platform/GstStreamCaps.h"

#include "platform/GstHandles.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace verticora {

namespace {

constexpr StreamFormat rawFormats[] = {StreamFormat::nv12, StreamFormat::i420, StreamFormat::yuyv, StreamFormat::uyvy};

const char* rawFormatName(StreamFormat format)
{
    switch (format) {
    case StreamFormat::nv12:
        return "NV12";
    case StreamFormat::i420:
        return "I420";
    case StreamFormat::yuyv:
        return "YUY2";
    case StreamFormat::uyvy:
        return "UYVY";
    case StreamFormat::mjpeg:
        break;
    }
    return nullptr;
}

std::optional<StreamFormat> rawFormatNamed(const char* name)
{
    for (const StreamFormat format : rawFormats) {
        if (name && std::string_view(name) == rawFormatName(format))
            return format;
    }
    return std::nullopt;
}

// Calls `visit` for a caps field's value, or for each value of a list.
template <typename Visit>
void forEachValue(const GValue* value, const Visit& visit)
{
    if (!value)
        return;
    if (!GST_VALUE_HOLDS_LIST(value)) {
        visit(value);
        return;
    }
    for (guint i = 0; i < gst_value_list_get_size(value); ++i)
        forEachValue(gst_value_list_get_value(value, i), visit);
}

// A size a field allows, with a range narrowed to the one value nearest `preferred`.
std::optional<int> sizeOf(const GValue* value, int preferred)
{
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value);
    if (!GST_VALUE_HOLDS_INT_RANGE(value))
        return std::nullopt;
    const int minimum = gst_value_get_int_range_min(value);
    const int maximum = gst_value_get_int_range_max(value);
    const int step = std::max(1, gst_value_get_int_range_step(value));
    return minimum + (std::clamp(preferred, minimum, maximum) - minimum) / step * step;
}

CameraRate fractionOf(const GValue* value)
{
    return {gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value)};
}

std::optional<RateSpan> rateSpanOf(const GValue* value)
{
    if (GST_VALUE_HOLDS_FRACTION(value))
        return RateSpan{fractionOf(value), fractionOf(value)};
    if (GST_VALUE_HOLDS_FRACTION_RANGE(value))
        return RateSpan{fractionOf(gst_value_get_fraction_range_min(value)),
                        fractionOf(gst_value_get_fraction_range_max(value))};
    return std::nullopt;
}

std::vector<StreamFormat> formatsOf(const GstStructure* structure)
{
    const std::string_view name = gst_structure_get_name(structure);
    if (name == "image/jpeg")
        return {StreamFormat::mjpeg};
    std::vector<StreamFormat> formats;
    if (name != "video/x-raw")
        return formats;
    forEachValue(gst_structure_get_value(structure, "format"), [&](const GValue* value) {
        if (!G_VALUE_HOLDS_STRING(value))
            return;
        if (const std::optional<StreamFormat> format = rawFormatNamed(g_value_get_string(value)))
            formats.push_back(*format);
    });
    return formats;
}

std::vector<int> sizesOf(const GstStructure* structure, const char* field, int preferred)
{
    std::vector<int> sizes;
    forEachValue(gst_structure_get_value(structure, field), [&](const GValue* value) {
        if (const std::optional<int> size = sizeOf(value, preferred))
            sizes.push_back(*size);
    });
    return sizes;
}

std::vector<RateSpan> rateSpansOf(const GstStructure* structure)
{
    std::vector<RateSpan> rates;
    forEachValue(gst_structure_get_value(structure, "framerate"), [&](const GValue* value) {
        if (const std::optional<RateSpan> span = rateSpanOf(value))
            rates.push_back(*span);
    });
    return rates;
}

// The modes one structure of the caps allows: every format with every size.
void appendModes(const GstStructure* structure, std::vector<StreamMode>& modes)
{
    const std::vector<StreamFormat> formats = formatsOf(structure);
    const std::vector<int> widths = sizesOf(structure, "width", preferredWidth);
    const std::vector<int> heights = sizesOf(structure, "height", preferredHeight);
    const std::vector<RateSpan> rates = rateSpansOf(structure);
    for (const StreamFormat format : formats) {
        for (const int width : widths) {
            for (const int height : heights)
                modes.push_back({format, width, height, rates});
        }
    }
}

} // namespace

std::vector<StreamMode> streamModesOf(const std::string& caps)
{
    // Caps are read with GStreamer's value types, which exist once it is initialised.
    std::vector<StreamMode> modes;
    if (startGStreamer())
        return modes;
    const CapsPtr parsed(gst_caps_from_string(caps.c_str()));
    if (!parsed || gst_caps_is_any(parsed.get()))
        return modes;
    for (guint i = 0; i < gst_caps_get_size(parsed.get()); ++i) {
        const GstCapsFeatures* features = gst_caps_get_features(parsed.get(), i);
        if (!features || gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY))
            appendModes(gst_caps_get_structure(parsed.get(), i), modes);
    }
    return modes;
}

std::string capsFor(const StreamMode& mode, CameraRate rate)
{
    if (startGStreamer())
        return {};
    GstStructure* structure = mode.format == StreamFormat::mjpeg
        ? gst_structure_new_empty("image/jpeg")
        : gst_structure_new("video/x-raw", "format", G_TYPE_STRING, rawFormatName(mode.format), nullptr);
    gst_structure_set(structure, "width", G_TYPE_INT, mode.width, "height", G_TYPE_INT, mode.height, nullptr);
    if (rate.numerator > 0)
        gst_structure_set(structure, "framerate", GST_TYPE_FRACTION, rate.numerator, rate.denominator, nullptr);
    const CapsPtr caps(gst_caps_new_empty());
    gst_caps_append_structure(caps.get(), structure);
    const TextPtr text(gst_caps_to_string(caps.get()));
    return text ? std::string(text.get()) : std::string();
}

} // namespace verticora
