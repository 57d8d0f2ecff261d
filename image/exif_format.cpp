#include "image/exif_format.h"

#include <charconv>
#include <cmath>

const wchar_t* const kExifLabels[kExifRowCount] = {
    L"メーカー", L"機種",     L"シャッター", L"絞り値",   L"露出制御", L"ISO感度",
    L"露出補正", L"測光方式", L"フラッシュ", L"焦点距離", L"開放Ｆ値", L"撮影日時",
};

namespace {

const wchar_t* const kExposurePrograms[8] = {
    L"マニュアル",       L"プログラムAE",     L"絞り優先AE",         L"シャッター速度優先AE",
    L"低速プログラムAE", L"高速プログラムAE", L"ポートレートモード", L"風景モード",
};

const wchar_t* const kMeteringModes[6] = {
    L"平均測光", L"中央重点測光", L"スポット測光", L"多点スポット測光", L"分割測光", L"部分測光",
};

std::wstring widen(const char* ascii, size_t n) { return std::wstring(ascii, ascii + n); }

// "%.1f", produced by the standard library's exact conversion so that both builds (and
// every C runtime) give the same digits for the same value.
std::wstring oneDecimal(double value) {
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    if (result.ec != std::errc()) return L"";
    return widen(buffer, size_t(result.ptr - buffer));
}

std::wstring unsignedText(uint32_t value) {
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return widen(buffer, size_t(result.ptr - buffer));
}

std::wstring limited(std::wstring text) {
    if (text.size() > kExifValueMaxUnits) text.resize(kExifValueMaxUnits);
    return text;
}

}  // namespace

ExifRows formatExif(const ExifSummary& s, AnsiDecoder decode) {
    ExifRows rows;
    std::wstring* v = rows.values;
    v[0] = decode(s.make, sizeof s.make);
    v[1] = decode(s.model, sizeof s.model);
    if (s.exposureDenominator != 0)
        v[2] = unsignedText(s.exposureNumerator) + L"/" + unsignedText(s.exposureDenominator) + L"秒";
    if (s.fNumberDenominator != 0) v[3] = oneDecimal(double(s.fNumberNumerator) / double(s.fNumberDenominator));
    if (s.exposureProgram >= 1 && s.exposureProgram <= 8) v[4] = kExposurePrograms[s.exposureProgram - 1];
    if (s.isoSpeed != 0) v[5] = unsignedText(s.isoSpeed);
    if (s.biasDenominator != 0) v[6] = oneDecimal(double(s.biasNumerator) / double(s.biasDenominator));
    if (s.meteringMode >= 1 && s.meteringMode <= 6) v[7] = kMeteringModes[s.meteringMode - 1];
    v[8] = (s.flash & 1) ? L"ON" : L"OFF";
    if (s.focalDenominator != 0) v[9] = oneDecimal(double(s.focalNumerator) / double(s.focalDenominator)) + L"mm";
    if (s.maxApertureDenominator != 0) {
        // APEX Av to an F-number.
        const double av = double(s.maxApertureNumerator) / double(s.maxApertureDenominator);
        v[10] = oneDecimal(std::pow(2.0, av / 2.0));
    }
    v[11] = decode(s.dateTime, sizeof s.dateTime);
    for (auto& text : rows.values) text = limited(std::move(text));
    return rows;
}

std::wstring exifClipboardText(const ExifRows& rows) {
    std::wstring text;
    for (int i = 0; i < kExifRowCount; ++i) {
        text += kExifLabels[i];
        text += L':';
        text += rows.values[i];
        text += L'\n';
    }
    return text;
}
