#include "platform/BlazeFaceFinder.h"

#include "platform/BlazeFaceNetwork.h"

#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>
#include <vector>

namespace verticora {

namespace {

constexpr int side = BlazeFaceFinder::inputSide;
constexpr int fineCells = 16;   // stride 8, two anchors a cell
constexpr int coarseCells = 8;  // stride 16, six anchors a cell
constexpr int fineAnchors = fineCells * fineCells * 2;
constexpr int coarseAnchors = coarseCells * coarseCells * 6;
constexpr int anchorCount = fineAnchors + coarseAnchors;
constexpr int regressorValues = 16;
constexpr double overlapLimit = 0.3;

struct Anchor {
    float x = 0;
    float y = 0;
};

// Anchor centres in input fractions, in the order of the network's outputs.
std::vector<Anchor> anchors()
{
    std::vector<Anchor> result;
    result.reserve(anchorCount);
    for (const auto& [cells, perCell] : {std::pair{fineCells, 2}, std::pair{coarseCells, 6}}) {
        for (int row = 0; row < cells; ++row) {
            for (int col = 0; col < cells; ++col) {
                for (int a = 0; a < perCell; ++a)
                    result.push_back({(static_cast<float>(col) + 0.5f) / static_cast<float>(cells),
                                      (static_cast<float>(row) + 0.5f) / static_cast<float>(cells)});
            }
        }
    }
    return result;
}

float sigmoid(float logit)
{
    return 1.0f / (1.0f + std::exp(-logit));
}

// One decoded box in input pixels, with its keypoints.
struct Raw {
    float score = 0;
    float cx = 0;
    float cy = 0;
    float w = 0;
    float h = 0;
    std::array<float, 12> keypoints{};
};

double overlap(const Raw& a, const Raw& b)
{
    const double left = std::max(a.cx - a.w / 2, b.cx - b.w / 2);
    const double right = std::min(a.cx + a.w / 2, b.cx + b.w / 2);
    const double top = std::max(a.cy - a.h / 2, b.cy - b.h / 2);
    const double bottom = std::min(a.cy + a.h / 2, b.cy + b.h / 2);
    const double shared = std::max(0.0, right - left) * std::max(0.0, bottom - top);
    const double joint = static_cast<double>(a.w) * a.h + static_cast<double>(b.w) * b.h - shared;
    return joint > 0 ? shared / joint : 0;
}

// Weighted non-maximum suppression: each cluster of overlapping boxes becomes their
// score-weighted mean, with the best score of the cluster.
std::vector<Raw> merged(std::vector<Raw> raws)
{
    std::sort(raws.begin(), raws.end(), [](const Raw& a, const Raw& b) { return a.score > b.score; });
    std::vector<Raw> result;
    std::vector<bool> taken(raws.size(), false);
    for (std::size_t i = 0; i < raws.size(); ++i) {
        if (taken[i])
            continue;
        Raw sum;
        float weights = 0;
        for (std::size_t j = i; j < raws.size(); ++j) {
            if (taken[j] || overlap(raws[i], raws[j]) <= overlapLimit)
                continue;
            taken[j] = true;
            const float w = raws[j].score;
            weights += w;
            sum.cx += w * raws[j].cx;
            sum.cy += w * raws[j].cy;
            sum.w += w * raws[j].w;
            sum.h += w * raws[j].h;
            for (std::size_t k = 0; k < sum.keypoints.size(); ++k)
                sum.keypoints[k] += w * raws[j].keypoints[k];
        }
        sum.cx /= weights;
        sum.cy /= weights;
        sum.w /= weights;
        sum.h /= weights;
        for (float& k : sum.keypoints)
            k /= weights;
        sum.score = raws[i].score;
        result.push_back(sum);
    }
    return result;
}

struct ModuleCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

// Whether `gid` is the user private group of `uid`: named after the user, no other members.
bool isPrivateGroup(gid_t gid, uid_t uid)
{
    const long sizeHint = std::max(::sysconf(_SC_GETPW_R_SIZE_MAX), ::sysconf(_SC_GETGR_R_SIZE_MAX));
    std::vector<char> buffer(static_cast<std::size_t>(std::max(sizeHint, 16384L)));
    passwd user {};
    passwd* userFound = nullptr;
    if (::getpwuid_r(uid, &user, buffer.data(), buffer.size(), &userFound) != 0 || !userFound)
        return false;
    const std::string name = user.pw_name;
    group grp {};
    group* groupFound = nullptr;
    if (::getgrgid_r(gid, &grp, buffer.data(), buffer.size(), &groupFound) != 0 || !groupFound)
        return false;
    if (name != grp.gr_name)
        return false;
    for (char** member = grp.gr_mem; *member; ++member) {
        if (name != *member)
            return false;
    }
    return true;
}

// Whether anybody but root or this user could change what the resolved `path` holds: the
// file and every folder above it must belong to one of them and be writable by nobody
// else. A folder that everybody may write to is safe only with its sticky bit (as /tmp),
// which keeps others from renaming what is in it; a group may write only when it is its
// owner's private group (as with a umask of 002).
bool othersCouldWrite(const std::filesystem::path& path)
{
    for (std::filesystem::path p = path;; p = p.parent_path()) {
        struct stat status {};
        if (::lstat(p.c_str(), &status) != 0)
            return true;
        if (status.st_uid != 0 && status.st_uid != ::geteuid())
            return true;
        const bool stickyFolder = S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0;
        if ((status.st_mode & S_IWOTH) != 0 && !stickyFolder)
            return true;
        if ((status.st_mode & S_IWGRP) != 0 && !stickyFolder && !isPrivateGroup(status.st_gid, status.st_uid))
            return true;
        if (p == p.root_path())
            return false;
    }
}

// The module at `path`, or null with `failure` saying why. Loaded modules stay in memory
// for good: OpenCV leaves worker threads behind that would run into unmapped code.
ModuleHandle openModule(const std::filesystem::path& path, std::optional<std::string>& failure)
{
    const std::string named = "The second face finder's module " + path.string();
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (error) {
        failure = named + " is missing.";
        return {};
    }
    if (othersCouldWrite(resolved)) {
        failure = named + " could be changed by other users, so it is not loaded.";
        return {};
    }
    ModuleHandle module(dlopen(resolved.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!module) {
        const char* why = dlerror();
        failure = named + " cannot be loaded: " + (why ? why : "no reason given") + ".";
    }
    return module;
}

} // namespace

struct BlazeFaceFinder::Network {
    // Declared first, so that the network is gone before its module is let go.
    ModuleHandle module;
    std::unique_ptr<blazeface::Network> net;
    std::vector<Anchor> anchors = verticora::anchors();
    // Per input pixel: sums of the three channels and how many frame pixels fell on it.
    std::vector<float> sums;
    std::vector<float> counts;
};

std::filesystem::path BlazeFaceFinder::defaultModelPath()
{
    return VERTICORA_FACE_FINDER_MODEL_FILE;
}

std::filesystem::path BlazeFaceFinder::defaultModulePath()
{
    return VERTICORA_FACE_FINDER_MODULE_FILE;
}

BlazeFaceFinder::BlazeFaceFinder(std::filesystem::path modelPath, std::filesystem::path modulePath)
    : m_modelPath(std::move(modelPath)), m_modulePath(std::move(modulePath))
{
}

BlazeFaceFinder::~BlazeFaceFinder() = default;

bool BlazeFaceFinder::load()
{
    if (m_network)
        return true;
    if (m_loadFailure)
        return false;
    auto network = std::make_unique<Network>();
    network->module = openModule(m_modulePath, m_loadFailure);
    if (!network->module)
        return false;
    const auto open = reinterpret_cast<blazeface::OpenNetwork>(dlsym(network->module.get(), blazeface::entryPoint));
    if (!open) {
        m_loadFailure = "The second face finder's module " + m_modulePath.string() + " belongs to another build.";
        return false;
    }
    auto opening = blazeface::Opening::unreadable;
    network->net.reset(open(m_modelPath.c_str(), &opening));
    if (!network->net || network->net->input().size() != static_cast<std::size_t>(side * side * 3)) {
        m_loadFailure = "The second face finder's model " + m_modelPath.string()
                        + (opening == blazeface::Opening::notBlazeFace ? " is not a BlazeFace model." : " cannot be read.");
        return false;
    }
    m_network = std::move(network);
    return true;
}

void BlazeFaceFinder::fillInput(const PixelBufferView& frame, std::span<const std::uint8_t> tone)
{
    Network& n = *m_network;
    const int width = frame.width();
    const int height = frame.height();
    m_scale = static_cast<double>(side) / std::max(width, height);
    m_offsetX = (side - width * m_scale) / 2;
    m_offsetY = (side - height * m_scale) / 2;

    // Each frame pixel is added to the input pixel its centre falls on: an area average
    // when shrinking, which also averages away sensor noise.
    n.sums.assign(static_cast<std::size_t>(side * side * 3), 0.0f);
    n.counts.assign(static_cast<std::size_t>(side * side), 0.0f);
    std::vector<int> columnOf(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        columnOf[static_cast<std::size_t>(x)] =
            std::clamp(static_cast<int>((x + 0.5) * m_scale + m_offsetX), 0, side - 1);
    const bool colour = frame.format() == pixelFormat::bgra;
    const std::size_t step = colour ? 4 : (frame.format() == pixelFormat::uyvy || frame.format() == pixelFormat::yuyv ? 2 : 1);
    const std::size_t first = frame.format() == pixelFormat::uyvy ? 1 : 0;
    const auto toned = [&](std::uint8_t v) { return static_cast<float>(tone.empty() ? v : tone[v]); };
    for (int y = 0; y < height; ++y) {
        const int row = std::clamp(static_cast<int>((y + 0.5) * m_scale + m_offsetY), 0, side - 1);
        const std::uint8_t* in = frame.row(0, y);
        float* sums = n.sums.data() + static_cast<std::size_t>(row * side) * 3;
        float* counts = n.counts.data() + static_cast<std::size_t>(row * side);
        for (int x = 0; x < width; ++x) {
            const auto column = static_cast<std::size_t>(columnOf[static_cast<std::size_t>(x)]);
            const std::uint8_t* p = in + static_cast<std::size_t>(x) * step + first;
            if (colour) {
                sums[3 * column] += toned(p[2]); // red first: the network was trained on RGB
                sums[3 * column + 1] += toned(p[1]);
                sums[3 * column + 2] += toned(p[0]);
            } else {
                const float grey = toned(*p);
                sums[3 * column] += grey;
                sums[3 * column + 1] += grey;
                sums[3 * column + 2] += grey;
            }
            counts[column] += 1;
        }
    }
    float* out = n.net->input().data();
    for (std::size_t i = 0; i < n.counts.size(); ++i) {
        const float count = n.counts[i];
        for (std::size_t c = 0; c < 3; ++c)
            out[3 * i + c] = count > 0 ? n.sums[3 * i + c] / count / 127.5f - 1.0f : -1.0f; // black outside
    }
}

std::vector<BlazeFace> BlazeFaceFinder::find(const PixelBufferView& frame, std::span<const std::uint8_t> tone)
{
    if (!load() || frame.width() <= 0 || frame.height() <= 0 || (!tone.empty() && tone.size() != 256))
        return {};
    Network& n = *m_network;
    fillInput(frame, tone);
    std::array<std::span<const float>, 4> outputs;
    if (!n.net->run(outputs))
        return {};
    // The outputs by their sizes: scores of the fine and the coarse anchors, then their regressors.
    const float* scores[2] = {nullptr, nullptr};
    const float* regressors[2] = {nullptr, nullptr};
    for (const std::span<const float> out : outputs) {
        const auto total = static_cast<int>(out.size());
        const float* data = out.data();
        if (total == fineAnchors)
            scores[0] = data;
        else if (total == coarseAnchors)
            scores[1] = data;
        else if (total == fineAnchors * regressorValues)
            regressors[0] = data;
        else if (total == coarseAnchors * regressorValues)
            regressors[1] = data;
    }
    if (!scores[0] || !scores[1] || !regressors[0] || !regressors[1])
        return {};

    std::vector<Raw> raws;
    for (int i = 0; i < anchorCount; ++i) {
        const int part = i < fineAnchors ? 0 : 1;
        const int index = part == 0 ? i : i - fineAnchors;
        const float score = sigmoid(std::clamp(scores[part][index], -80.0f, 80.0f));
        if (!(score >= minimumScore))
            continue;
        const float* r = regressors[part] + static_cast<std::size_t>(index) * regressorValues;
        const Anchor& anchor = n.anchors[static_cast<std::size_t>(i)];
        Raw raw;
        raw.score = score;
        raw.cx = anchor.x * side + r[0];
        raw.cy = anchor.y * side + r[1];
        raw.w = r[2];
        raw.h = r[3];
        for (std::size_t k = 0; k < 6; ++k) {
            raw.keypoints[2 * k] = anchor.x * side + r[4 + 2 * k];
            raw.keypoints[2 * k + 1] = anchor.y * side + r[5 + 2 * k];
        }
        if (std::isfinite(raw.cx) && std::isfinite(raw.cy) && raw.w > 0 && raw.h > 0)
            raws.push_back(raw);
    }

    std::vector<BlazeFace> faces;
    const auto toFrame = [&](float x, float y) {
        return Point{(x - m_offsetX) / m_scale, (y - m_offsetY) / m_scale};
    };
    for (const Raw& raw : merged(std::move(raws))) {
        BlazeFace face;
        face.center = toFrame(raw.cx, raw.cy);
        face.side = std::sqrt(static_cast<double>(raw.w) * raw.h) / m_scale;
        face.score = raw.score;
        for (std::size_t k = 0; k < 6; ++k)
            face.keypoints[k] = toFrame(raw.keypoints[2 * k], raw.keypoints[2 * k + 1]);
        faces.push_back(face);
    }
    return faces;
}

} // namespace verticora
