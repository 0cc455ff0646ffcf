#pragma once
// Colour management: ICC profiles and transforms between colour models and sample types.
//
// Principles:
// - Ownership: profiles are immutable and shared (ProfilePtr); a Transform keeps the profiles it
//   was built from alive and owns its engine transform.
// - Threads: profiles and transforms may be used from any thread at once; apply() is reentrant.
// - Errors: parsing returns no profile for bytes that are not a usable ICC profile; building a
//   transform between incompatible layouts throws std::runtime_error with a fixed text.
// - Sample encodings are those of the image records and channels: sample type codes -1 (uint8),
//   -2 (uint16), -3 (float 0 ... 1). CMYK samples are ink amounts (0 = no ink). Lab samples are
//   unsigned with neutral a/b in the middle: 8-bit L 0..255, a/b 128 neutral; 16-bit L 0..65535,
//   a/b 32768 neutral, 256 steps per unit; float L/100, (a + 128)/255.
// - An alpha sample, when a layout has one, is the last sample of a pixel and is carried over
//   unchanged in value (converted between sample types).

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>

namespace Orvex::CMM {

enum class ColorSpace { Unknown, Grey, RGB, CMYK, Lab };

class Profile;
using ProfilePtr = std::shared_ptr<const Profile>;

class Profile {
public:
    ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    // Parses ICC bytes; none when they are not a profile of a colour space this layer handles.
    static ProfilePtr fromICC(const void* data, size_t size);
    static ProfilePtr fromICC(const QByteArray& bytes) {
        return fromICC(bytes.constData(), size_t(bytes.size()));
    }
    // The built-in profile of a space (shared, created once): sRGB for RGB ("sRGB built-in"), a
    // D50 gamma-2.2 grey ("Gray D50 virtual profile"), a simple ink model for CMYK ("CMYK virtual
    // profile") and the D50 Lab identity ("Lab D50 identity"). None for Unknown.
    static ProfilePtr defaultProfile(ColorSpace space);

    ColorSpace colorSpace() const { return m_space; }
    QString description() const { return m_description; }
    // The generic profile of its space, recognised by its description; such profiles are replaced
    // by the built-in default of the space.
    bool isGeneric() const;
    // The profile as ICC bytes, for embedding in a file.
    QByteArray iccBytes() const;

    void* handle() const { return m_handle; } // the engine's profile (cmsHPROFILE)

private:
    explicit Profile(void* handle);
    void* m_handle;
    ColorSpace m_space = ColorSpace::Unknown;
    QString m_description;
};

struct PixelLayout {
    ColorSpace space = ColorSpace::RGB;
    int sampleType = -1;
    bool alpha = false;

    int colorChannels() const;
    int channels() const { return colorChannels() + (alpha ? 1 : 0); }
    int bytesPerSample() const;
    size_t pixelBytes() const { return size_t(channels()) * size_t(bytesPerSample()); }
};

enum class Intent { Perceptual = 0, RelativeColorimetric = 1, Saturation = 2, AbsoluteColorimetric = 3 };

class Transform {
public:
    // Throws std::runtime_error when a layout does not match its profile's space or the engine
    // cannot link the two profiles.
    Transform(ProfilePtr from, const PixelLayout& in, ProfilePtr to, const PixelLayout& out,
              Intent intent = Intent::Perceptual);
    ~Transform();
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;

    const PixelLayout& input() const { return m_in; }
    const PixelLayout& output() const { return m_out; }

    // Converts `pixels` interleaved pixels.
    void apply(const void* source, void* target, size_t pixels) const;
    // Converts a rectangle of rows; strides in bytes.
    void apply(const void* source, size_t sourceStride, void* target, size_t targetStride, int width,
               int height) const;

private:
    ProfilePtr m_from, m_to;
    PixelLayout m_in, m_out;
    void* m_transform = nullptr; // cmsHTRANSFORM
    bool m_viaFloat = false;     // samples go through a float buffer in the engine's float units
};

// The built-in default of the layout's space when `profile` is none, of another space, or generic.
ProfilePtr profileOrDefault(const ProfilePtr& profile, ColorSpace space);

} // namespace Orvex::CMM
