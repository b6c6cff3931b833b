// The module the second face finder loads: the BlazeFace network read and run by OpenCV.
#include "platform/BlazeFaceNetwork.h"

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <memory>
#include <vector>

namespace verticora::blazeface {

namespace {

class OpenCvNetwork final : public Network {
public:
    explicit OpenCvNetwork(cv::dnn::Net net) : m_net(std::move(net)), m_outputNames(m_net.getUnconnectedOutLayersNames())
    {
        m_net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        m_net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        const int shape[] = {1, inputSide, inputSide, 3};
        m_input.create(4, shape, CV_32F);
    }

    [[nodiscard]] std::size_t outputCount() const { return m_outputNames.size(); }

    std::span<float> input() override { return {m_input.ptr<float>(), m_input.total()}; }

    bool run(std::array<std::span<const float>, 4>& outputs) override
    {
        try {
            m_net.setInput(m_input);
            m_net.forward(m_outputs, m_outputNames);
        } catch (const cv::Exception&) {
            return false;
        }
        if (m_outputs.size() != outputs.size())
            return false;
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const cv::Mat& out = m_outputs[i];
            if (out.type() != CV_32F || !out.isContinuous())
                return false;
            outputs[i] = {out.ptr<float>(), out.total()};
        }
        return true;
    }

private:
    cv::dnn::Net m_net;
    std::vector<cv::String> m_outputNames;
    cv::Mat m_input; // NHWC [1, 128, 128, 3]
    std::vector<cv::Mat> m_outputs;
};

} // namespace

} // namespace verticora::blazeface

extern "C" __attribute__((visibility("default"))) verticora::blazeface::Network*
verticoraOpenBlazeFaceNetwork1(const char* modelPath, verticora::blazeface::Opening* result)
{
    using namespace verticora::blazeface;
    // Nothing may leave the module as an exception: the finder sees only the result.
    try {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(modelPath);
        if (net.empty()) {
            *result = Opening::notBlazeFace;
            return nullptr;
        }
        auto network = std::make_unique<OpenCvNetwork>(std::move(net));
        if (network->outputCount() != 4) {
            *result = Opening::notBlazeFace;
            return nullptr;
        }
        *result = Opening::opened;
        return network.release();
    } catch (...) {
        *result = Opening::unreadable;
        return nullptr;
    }
}
