#include "cmm/CMM.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace Orvex::CMM {

namespace {

ColorSpace spaceOf(cmsHPROFILE h) {
    switch (cmsGetColorSpace(h)) {
    case cmsSigGrayData:
        return ColorSpace::Grey;
    case cmsSigRgbData:
        return ColorSpace::RGB;
    case cmsSigCmykData:
        return ColorSpace::CMYK;
    case cmsSigLabData:
        return ColorSpace::Lab;
    default:
        return ColorSpace::Unknown;
    }
}

void setDescription(cmsHPROFILE h, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(mlu, "en", "US", text);
    cmsWriteTag(h, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
}

// The simple ink model of the built-in CMYK profile: ink amounts multiply the paper white down
// through sRGB, and the way back takes the common part of cyan, magenta and yellow as black.
struct InkModel {
    cmsHTRANSFORM rgbToLab;
    cmsHTRANSFORM labToRgb;
};

int cmykToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    auto* model = static_cast<InkModel*>(cargo);
    const double k = in[3] / 65535.0;
    double rgb[3];
    for (int i = 0; i < 3; ++i) rgb[i] = (1.0 - in[i] / 65535.0) * (1.0 - k);
    cmsCIELab lab;
    cmsDoTransform(model->rgbToLab, rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
}

int labToCmyk(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    auto* model = static_cast<InkModel*>(cargo);
    cmsCIELab lab;
    cmsLabEncoded2Float(&lab, in);
    double rgb[3];
    cmsDoTransform(model->labToRgb, &lab, rgb, 1);
    double cmy[3];
    for (int i = 0; i < 3; ++i) cmy[i] = 1.0 - std::clamp(rgb[i], 0.0, 1.0);
    const double k = std::min({cmy[0], cmy[1], cmy[2]});
    for (int i = 0; i < 3; ++i) {
        const double v = k < 1.0 ? (cmy[i] - k) / (1.0 - k) : 0.0;
        out[i] = cmsUInt16Number(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0));
    }
    out[3] = cmsUInt16Number(std::lround(k * 65535.0));
    return TRUE;
}

cmsHPROFILE makeCmykProfile() {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    InkModel model{
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0),
        cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0)};
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    cmsSetHeaderRenderingIntent(p, INTENT_PERCEPTUAL);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, const_cast<cmsCIEXYZ*>(cmsD50_XYZ()));

    cmsPipeline* toLab = cmsPipelineAlloc(nullptr, 4, 3);
    // The ICC form of these tables wants curves around the grid; identity ones are enough.
    cmsPipelineInsertStage(toLab, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 17, 4, 3, nullptr);
    cmsStageSampleCLut16bit(clut, cmykToLab, &model, 0);
    cmsPipelineInsertStage(toLab, cmsAT_END, clut);
    cmsPipelineInsertStage(toLab, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipeline* toCmyk = cmsPipelineAlloc(nullptr, 3, 4);
    cmsPipelineInsertStage(toCmyk, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    clut = cmsStageAllocCLut16bit(nullptr, 33, 3, 4, nullptr);
    cmsStageSampleCLut16bit(clut, labToCmyk, &model, 0);
    cmsPipelineInsertStage(toCmyk, cmsAT_END, clut);
    cmsPipelineInsertStage(toCmyk, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    for (cmsTagSignature tag : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag}) cmsWriteTag(p, tag, toLab);
    for (cmsTagSignature tag : {cmsSigBToA0Tag, cmsSigBToA1Tag, cmsSigBToA2Tag}) cmsWriteTag(p, tag, toCmyk);
    cmsPipelineFree(toLab);
    cmsPipelineFree(toCmyk);
    setDescription(p, "CMYK virtual profile");
    cmsDeleteTransform(model.rgbToLab);
    cmsDeleteTransform(model.labToRgb);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return p;
}

cmsUInt32Number engineFormat(const PixelLayout& layout, bool floatBuffer) {
    int colorspace = PT_RGB;
    switch (layout.space) {
    case ColorSpace::Grey:
        colorspace = PT_GRAY;
        break;
    case ColorSpace::CMYK:
        colorspace = PT_CMYK;
        break;
    case ColorSpace::Lab:
        colorspace = PT_Lab;
        break;
    default:
        break;
    }
    if (floatBuffer)
        return COLORSPACE_SH(colorspace) | CHANNELS_SH(layout.colorChannels()) | BYTES_SH(4) | FLOAT_SH(1);
    const bool isFloat = layout.sampleType == -3;
    return COLORSPACE_SH(colorspace) | CHANNELS_SH(layout.colorChannels()) | EXTRA_SH(layout.alpha ? 1 : 0) |
           BYTES_SH(isFloat ? 4 : layout.bytesPerSample()) | FLOAT_SH(isFloat ? 1 : 0);
}

// One sample as a fraction 0 ... 1 of its type's range.
inline float readUnit(const uint8_t* p, int type) {
    switch (type) {
    case -1:
        return *p / 255.0f;
    case -2: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v / 65535.0f;
    }
    default: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

inline void writeUnit(uint8_t* p, int type, float v) {
    switch (type) {
    case -1:
        *p = uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
        break;
    case -2: {
        const uint16_t s = uint16_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 65535.0f));
        std::memcpy(p, &s, 2);
        break;
    }
    default:
        std::memcpy(p, &v, 4);
        break;
    }
}

// Lab a or b sample <-> real value.
inline float readLabAB(const uint8_t* p, int type) {
    switch (type) {
    case -1:
        return float(*p) - 128.0f;
    case -2: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v / 256.0f - 128.0f;
    }
    default: {
        float v;
        std::memcpy(&v, p, 4);
        return v * 255.0f - 128.0f;
    }
    }
}

inline void writeLabAB(uint8_t* p, int type, float v) {
    switch (type) {
    case -1:
        *p = uint8_t(std::lround(std::clamp(v + 128.0f, 0.0f, 255.0f)));
        break;
    case -2: {
        const uint16_t s = uint16_t(std::lround(std::clamp((v + 128.0f) * 256.0f, 0.0f, 65535.0f)));
        std::memcpy(p, &s, 2);
        break;
    }
    default: {
        const float s = (v + 128.0f) / 255.0f;
        std::memcpy(p, &s, 4);
        break;
    }
    }
}

// Samples <-> the engine's float units (grey and RGB 0..1, CMYK 0..100, Lab real L*, a*, b*).
void toEngine(const PixelLayout& layout, const uint8_t* src, float* dst, float* alpha, size_t pixels) {
    const int bytes = layout.bytesPerSample();
    const int colors = layout.colorChannels();
    const size_t pixelBytes = layout.pixelBytes();
    for (size_t i = 0; i < pixels; ++i, src += pixelBytes, dst += colors) {
        if (layout.space == ColorSpace::Lab) {
            dst[0] = readUnit(src, layout.sampleType) * 100.0f;
            dst[1] = readLabAB(src + bytes, layout.sampleType);
            dst[2] = readLabAB(src + 2 * bytes, layout.sampleType);
        } else {
            const float scale = layout.space == ColorSpace::CMYK ? 100.0f : 1.0f;
            for (int c = 0; c < colors; ++c) dst[c] = readUnit(src + c * bytes, layout.sampleType) * scale;
        }
        alpha[i] = layout.alpha ? readUnit(src + colors * bytes, layout.sampleType) : 1.0f;
    }
}

void fromEngine(const PixelLayout& layout, const float* src, const float* alpha, uint8_t* dst,
                size_t pixels) {
    const int bytes = layout.bytesPerSample();
    const int colors = layout.colorChannels();
    const size_t pixelBytes = layout.pixelBytes();
    for (size_t i = 0; i < pixels; ++i, dst += pixelBytes, src += colors) {
        if (layout.space == ColorSpace::Lab) {
            writeUnit(dst, layout.sampleType, src[0] / 100.0f);
            writeLabAB(dst + bytes, layout.sampleType, src[1]);
            writeLabAB(dst + 2 * bytes, layout.sampleType, src[2]);
        } else {
            const float scale = layout.space == ColorSpace::CMYK ? 0.01f : 1.0f;
            for (int c = 0; c < colors; ++c) writeUnit(dst + c * bytes, layout.sampleType, src[c] * scale);
        }
        if (layout.alpha) writeUnit(dst + colors * bytes, layout.sampleType, alpha[i]);
    }
}

} // namespace

// --- Profile ---------------------------------------------------------------------------------------

Profile::Profile(void* handle) : m_handle(handle) {
    m_space = spaceOf(cmsHPROFILE(handle));
    wchar_t text[256] = {0};
    if (cmsGetProfileInfo(cmsHPROFILE(handle), cmsInfoDescription, "en", "US", text, 255) > 0)
        m_description = QString::fromWCharArray(text).trimmed();
}

Profile::~Profile() {
    cmsCloseProfile(cmsHPROFILE(m_handle));
}

ProfilePtr Profile::fromICC(const void* data, size_t size) {
    if (!data || size < 128 || size > (size_t(64) << 20)) return nullptr;
    cmsHPROFILE h = cmsOpenProfileFromMem(data, cmsUInt32Number(size));
    if (!h) return nullptr;
    ProfilePtr profile(new Profile(h));
    return profile->colorSpace() == ColorSpace::Unknown ? nullptr : profile;
}

ProfilePtr Profile::defaultProfile(ColorSpace space) {
    static std::mutex mutex;
    static ProfilePtr profiles[5];
    std::lock_guard<std::mutex> lock(mutex);
    ProfilePtr& slot = profiles[int(space)];
    if (slot || space == ColorSpace::Unknown) return slot;
    cmsHPROFILE h = nullptr;
    switch (space) {
    case ColorSpace::RGB:
        h = cmsCreate_sRGBProfile();
        setDescription(h, "sRGB built-in");
        break;
    case ColorSpace::Grey: {
        cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
        h = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
        cmsFreeToneCurve(gamma);
        setDescription(h, "Gray D50 virtual profile");
        break;
    }
    case ColorSpace::CMYK:
        h = makeCmykProfile();
        break;
    case ColorSpace::Lab:
        h = cmsCreateLab4Profile(nullptr);
        setDescription(h, "Lab D50 identity");
        break;
    default:
        break;
    }
    slot.reset(new Profile(h));
    return slot;
}

bool Profile::isGeneric() const {
    switch (m_space) {
    case ColorSpace::Grey:
        return m_description == QLatin1String("Gray D50 virtual profile");
    case ColorSpace::RGB:
        return m_description.startsWith(QLatin1String("sRGB"));
    case ColorSpace::CMYK:
        return m_description == QLatin1String("CMYK virtual profile");
    case ColorSpace::Lab:
        return m_description == QLatin1String("Lab D50 identity");
    default:
        return false;
    }
}

QByteArray Profile::iccBytes() const {
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(cmsHPROFILE(m_handle), nullptr, &size) || size == 0) return {};
    QByteArray bytes(int(size), '\0');
    if (!cmsSaveProfileToMem(cmsHPROFILE(m_handle), bytes.data(), &size)) return {};
    return bytes;
}

ProfilePtr profileOrDefault(const ProfilePtr& profile, ColorSpace space) {
    if (!profile || profile->colorSpace() != space || profile->isGeneric())
        return Profile::defaultProfile(space);
    return profile;
}

// --- PixelLayout and Transform ---------------------------------------------------------------------

int PixelLayout::colorChannels() const {
    switch (space) {
    case ColorSpace::Grey:
        return 1;
    case ColorSpace::RGB:
    case ColorSpace::Lab:
        return 3;
    case ColorSpace::CMYK:
        return 4;
    default:
        return 0;
    }
}

int PixelLayout::bytesPerSample() const {
    return sampleType == -1 ? 1 : sampleType == -2 ? 2 : sampleType == -3 ? 4 : 0;
}

Transform::Transform(ProfilePtr from, const PixelLayout& in, ProfilePtr to, const PixelLayout& out,
                     Intent intent)
    : m_from(std::move(from)), m_to(std::move(to)), m_in(in), m_out(out) {
    if (!m_from || !m_to) throw std::runtime_error("CMM::Transform: missing profile");
    if (in.bytesPerSample() == 0 || out.bytesPerSample() == 0 || in.colorChannels() == 0 ||
        out.colorChannels() == 0)
        throw std::runtime_error("CMM::Transform: unsupported pixel layout");
    if (m_from->colorSpace() != in.space || m_to->colorSpace() != out.space)
        throw std::runtime_error("CMM::Transform: pixel layout does not match the profile's colour space");
    auto needsFloat = [](const PixelLayout& l) {
        return l.space == ColorSpace::Lab || (l.space == ColorSpace::CMYK && l.sampleType == -3);
    };
    m_viaFloat = needsFloat(in) || needsFloat(out);
    // Alpha is copied by the engine on the direct path; on the float path it travels separately.
    const cmsUInt32Number flags = cmsFLAGS_NOCACHE | (m_viaFloat ? 0 : cmsFLAGS_COPY_ALPHA);
    m_transform = cmsCreateTransform(cmsHPROFILE(m_from->handle()), engineFormat(in, m_viaFloat),
                                     cmsHPROFILE(m_to->handle()), engineFormat(out, m_viaFloat),
                                     cmsUInt32Number(intent), flags);
    if (!m_transform) throw std::runtime_error("CMM::Transform: the profiles cannot be linked");
}

Transform::~Transform() {
    if (m_transform) cmsDeleteTransform(cmsHTRANSFORM(m_transform));
}

void Transform::apply(const void* source, void* target, size_t pixels) const {
    auto* src = static_cast<const uint8_t*>(source);
    auto* dst = static_cast<uint8_t*>(target);
    if (!m_viaFloat) {
        // The engine counts pixels in 32 bits; large buffers go in pieces.
        while (pixels > 0) {
            const size_t n = std::min<size_t>(pixels, 1u << 24);
            if (!m_in.alpha && m_out.alpha) {
                // A layout gaining alpha: opaque unless the engine copies one.
                for (size_t i = 0; i < n; ++i)
                    writeUnit(dst + i * m_out.pixelBytes() + m_out.colorChannels() * m_out.bytesPerSample(),
                              m_out.sampleType, 1.0f);
            }
            cmsDoTransform(cmsHTRANSFORM(m_transform), src, dst, cmsUInt32Number(n));
            src += n * m_in.pixelBytes();
            dst += n * m_out.pixelBytes();
            pixels -= n;
        }
        return;
    }
    constexpr size_t Chunk = 1024;
    std::vector<float> inBuf(Chunk * 4), outBuf(Chunk * 4), alpha(Chunk);
    while (pixels > 0) {
        const size_t n = std::min(pixels, Chunk);
        toEngine(m_in, src, inBuf.data(), alpha.data(), n);
        cmsDoTransform(cmsHTRANSFORM(m_transform), inBuf.data(), outBuf.data(), cmsUInt32Number(n));
        fromEngine(m_out, outBuf.data(), alpha.data(), dst, n);
        src += n * m_in.pixelBytes();
        dst += n * m_out.pixelBytes();
        pixels -= n;
    }
}

void Transform::apply(const void* source, size_t sourceStride, void* target, size_t targetStride, int width,
                      int height) const {
    for (int y = 0; y < height; ++y)
        apply(static_cast<const uint8_t*>(source) + sourceStride * size_t(y),
              static_cast<uint8_t*>(target) + targetStride * size_t(y), size_t(width));
}

} // namespace Orvex::CMM
