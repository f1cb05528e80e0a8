// tests/bench/render/draw_bench.cpp — one frame of a 50k-triangle lit, textured scene drawn
// through the renderer, against a hand-written OpenGL draw of the same triangles with the
// same lighting (ambient + one point light, per-vertex) in the same run. Each frame clears,
// draws and reads one pixel back so that the GPU work is counted. Prints both per-frame
// times and their ratio. Run under xvfb-run -a.
#include "platform/render/render_local.h"
#include "tests/render/render/gl_context.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kColumns = 200; // quads across
constexpr int kRows = 125;    // quads down: 200 x 125 x 2 = 50 000 triangles

rendertest::GlContext* gContext = nullptr;

// A wall of kColumns x kRows quads facing the camera, 16 x 12 units, gently waved in depth so
// the lighting varies, with a checker texture; an ambient and a point light.
struct BenchScene {
    std::shared_ptr<scene::Frame> root = scene::Frame::Create();
    std::shared_ptr<scene::Frame> camera = scene::Frame::Create(root);
    std::shared_ptr<scene::Frame> wallFrame = scene::Frame::Create(root);
    std::shared_ptr<scene::MeshBuilder> wall = scene::MeshBuilder::Create();
    scene::ViewportParams viewport;

    BenchScene() {
        scene::Image img;
        img.width = img.height = 64;
        img.rgba.resize(64 * 64 * 4);
        for (int i = 0; i < 64 * 64; ++i) {
            const bool dark = ((i % 64) / 8 + (i / 64) / 8) % 2;
            img.rgba[i * 4 + 0] = dark ? 90 : 230;
            img.rgba[i * 4 + 1] = dark ? 70 : 220;
            img.rgba[i * 4 + 2] = dark ? 60 : 200;
            img.rgba[i * 4 + 3] = 255;
        }
        auto texture = scene::Texture::CreateFromImage(std::move(img), "bench");
        for (int r = 0; r <= kRows; ++r)
            for (int c = 0; c <= kColumns; ++c) {
                const float x = -8.0f + 16.0f * c / kColumns, y = 6.0f - 12.0f * r / kRows;
                const uint32_t v = wall->AddVertex({x, y, 0.3f * std::sin(x) * std::cos(y)});
                wall->SetTextureCoordinates(v, c / 10.0f, r / 10.0f);
            }
        wall->AddNormal({0, 0, -1});
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kColumns; ++c) {
                const uint32_t tl = r * (kColumns + 1) + c, tr = tl + 1;
                const uint32_t bl = tl + kColumns + 1, br = bl + 1;
                const uint32_t f = wall->CreateFace();
                for (uint32_t v : {tl, tr, br, bl})
                    wall->AddFaceCorner(f, v, 0);
            }
        wall->GenerateNormals();
        wall->SetTexture(texture);
        wallFrame->SetPosition(nullptr, {0, 0, 12});
        wallFrame->AddVisual(wall);
        root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(0.3f)));
        auto lamp = scene::Frame::Create(root);
        lamp->SetPosition(nullptr, {-4, 3, 6});
        lamp->AddLight(scene::Light::Create(scene::LightType::Point, glm::vec3(0.9f)));
        viewport.camera = camera;
        viewport.width = kWidth;
        viewport.height = kHeight;
        viewport.front = 1.0f;
        viewport.back = 100.0f;
        viewport.field = 0.5f;
    }
};

BenchScene* gScene = nullptr;

// The last frame drawn by each benchmark, to check that both draw the same picture.
std::vector<uint8_t> gRawPicture, gRendererPicture;

void ReadPicture(std::vector<uint8_t>& out) {
    out.resize(size_t(kWidth) * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
}

void ReadOnePixel() {
    uint8_t pixel[4];
    glReadPixels(kWidth / 2, kHeight / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    benchmark::DoNotOptimize(pixel[0]);
}

void BM_RendererFrame(benchmark::State& state) {
    auto renderer = render::Renderer::Create();
    if (!renderer) {
        state.SkipWithError("renderer cannot start");
        return;
    }
    renderer->SetTargetSize(kWidth, kHeight);
    renderer->Render(gScene->viewport, *gScene->root); // first frame uploads
    uint32_t triangles = 0;
    for (auto _ : state) {
        renderer->Clear(gScene->viewport, render::kClearAll);
        renderer->Render(gScene->viewport, *gScene->root);
        ReadOnePixel();
        triangles = renderer->LastStats().triangles;
    }
    ReadPicture(gRendererPicture);
    state.counters["triangles"] = triangles;
    state.counters["drawCalls"] = renderer->LastStats().drawCalls;
}

// A match-like frame at 800 x 600: the 50k-triangle wall as the map, four 2k-triangle
// skinned meshes whose whole vertex group is rewritten every frame, and eight decals.
void BM_MatchLikeFrame(benchmark::State& state) {
    auto renderer = render::Renderer::Create();
    if (!renderer) {
        state.SkipWithError("renderer cannot start");
        return;
    }
    renderer->SetTargetSize(kWidth, kHeight);
    auto body = scene::MeshBuilder::Create();
    for (int r = 0; r <= 20; ++r)
        for (int c = 0; c <= 50; ++c)
            body->AddVertex(
                {std::cos(c * 0.1256f) * 0.4f, r * 0.09f, std::sin(c * 0.1256f) * 0.4f});
    body->AddNormal({0, 0, -1});
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 50; ++c) {
            const uint32_t tl = (r + 1) * 51 + c, tr = tl + 1, bl = r * 51 + c, br = bl + 1;
            const uint32_t f = body->CreateFace();
            for (uint32_t v : {tl, tr, br, bl})
                body->AddFaceCorner(f, v, 0);
        }
    body->GenerateNormals();
    std::vector<std::shared_ptr<scene::Mesh>> players;
    std::vector<std::shared_ptr<scene::Frame>> added;
    for (int i = 0; i < 4; ++i) {
        auto mesh = scene::Mesh::CreateFromBuilder(*body);
        auto frame = scene::Frame::Create(gScene->root);
        frame->SetPosition(nullptr, {-3.0f + 2.0f * i, -1.0f, 7.0f});
        frame->AddVisual(mesh);
        players.push_back(mesh);
        added.push_back(frame);
    }
    scene::Image splat;
    splat.width = splat.height = 16;
    splat.rgba.assign(16 * 16 * 4, 0);
    for (int i = 0; i < 16 * 16; i += 3)
        splat.rgba[i * 4] = 200;
    auto decal = scene::Texture::CreateFromImage(std::move(splat), "splat");
    decal->SetDecalTransparency(true);
    for (int i = 0; i < 8; ++i) {
        auto frame = scene::Frame::Create(gScene->root);
        frame->SetPosition(nullptr, {-4.0f + i, 2.0f, 9.0f});
        frame->AddVisual(decal);
        added.push_back(frame);
    }
    std::vector<scene::VertexRecord> group(players[0]->GetVertexCount());
    players[0]->GetVertices(0, group);
    float t = 0;
    for (auto _ : state) {
        t += 0.05f;
        for (auto& mesh : players) {
            for (auto& r : group)
                r.position.x += 0.001f * std::sin(t + r.position.y);
            mesh->SetVertices(0, group);
        }
        renderer->Clear(gScene->viewport, render::kClearAll);
        renderer->Render(gScene->viewport, *gScene->root);
        ReadOnePixel();
    }
    state.counters["triangles"] = renderer->LastStats().triangles;
    state.counters["uploadKB"] = renderer->LastStats().uploadedBytes / 1024.0;
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    for (auto& frame : added)
        gScene->root->DeleteChild(*frame);
}

// The same triangles (the renderer's own vertex layout, built once) drawn with one program,
// one vertex array, one draw call and the same lighting.
const char* const kRawVertex = R"(#version 330 core
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec2 aUV;
layout(location = 3) in vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform mat3 uNormalMatrix;
uniform vec3 uAmbient;
uniform vec3 uLightPos;
uniform vec3 uLightColor;
uniform vec4 uAtten; // constant, linear, quadratic, range
out vec4 vColor;
out vec2 vUV;
void main() {
    vec4 p = uModelView * vec4(aPos, 1.0);
    gl_Position = uProjection * p;
    vec3 n = normalize(uNormalMatrix * aNormal);
    vec3 d = uLightPos - p.xyz;
    float dist = length(d);
    float att = dist > uAtten.w ? 0.0 : 1.0 / (uAtten.x + uAtten.y * dist + uAtten.z * dist * dist);
    float ndl = max(dot(n, d / dist), 0.0);
    vColor = vec4(aColor.rgb * (uAmbient + uLightColor * (ndl * att)), aColor.a);
    vUV = aUV;
}
)";
const char* const kRawFragment = R"(#version 330 core
in vec4 vColor;
in vec2 vUV;
uniform sampler2D uTexture;
out vec4 fragColor;
void main() { fragColor = vec4(vColor.rgb * texture(uTexture, vUV).rgb, vColor.a); }
)";

GLuint Compile(GLenum stage, const char* text) {
    GLuint s = glCreateShader(stage);
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    return s;
}

void BM_RawOpenGLFrame(benchmark::State& state) {
    std::vector<scene::VertexRecord> vertices;
    std::vector<uint32_t> indices;
    std::vector<render::DrawGroup> groups;
    render::BuildBuilderGeometry(*gScene->wall, vertices, indices, groups);
    GLuint vbo = 0, ibo = 0;
    glGenBuffers(1, &vbo);
    glGenBuffers(1, &ibo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(scene::VertexRecord), vertices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * 4, indices.data(), GL_STATIC_DRAW);
    const GLuint vao = render::MakeVertexArray(vbo, ibo);

    const GLuint program = glCreateProgram();
    glAttachShader(program, Compile(GL_VERTEX_SHADER, kRawVertex));
    glAttachShader(program, Compile(GL_FRAGMENT_SHADER, kRawFragment));
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        state.SkipWithError("raw program does not link");
        return;
    }

    const scene::Image& img = groups.at(0).texture->GetImage();
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, img.width, img.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 img.rgba.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    const scene::ViewportParams& vp = gScene->viewport;
    const glm::mat4 view = vp.ViewMatrix();
    const glm::mat4 modelView = view * gScene->wallFrame->GetSceneTransform();
    const glm::mat4 projection = vp.ProjectionMatrix();
    const glm::mat3 normal = glm::transpose(glm::inverse(glm::mat3(modelView)));
    const glm::vec3 lightPos = glm::vec3(view * glm::vec4(-4, 3, 6, 1));

    glUseProgram(program);
    glUniformMatrix4fv(glGetUniformLocation(program, "uModelView"), 1, GL_FALSE, &modelView[0][0]);
    glUniformMatrix4fv(glGetUniformLocation(program, "uProjection"), 1, GL_FALSE,
                       &projection[0][0]);
    glUniformMatrix3fv(glGetUniformLocation(program, "uNormalMatrix"), 1, GL_FALSE, &normal[0][0]);
    glUniform3f(glGetUniformLocation(program, "uAmbient"), 0.3f, 0.3f, 0.3f);
    glUniform3fv(glGetUniformLocation(program, "uLightPos"), 1, &lightPos[0]);
    glUniform3f(glGetUniformLocation(program, "uLightColor"), 0.9f, 0.9f, 0.9f);
    glUniform4f(glGetUniformLocation(program, "uAtten"), 1.0f, 0.0f, 0.0f, 1e30f);
    glUniform1i(glGetUniformLocation(program, "uTexture"), 0);
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);
    for (auto _ : state) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glUseProgram(program);
        glBindTexture(GL_TEXTURE_2D, texture);
        glBindVertexArray(vao);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT,
                       nullptr);
        ReadOnePixel();
    }
    ReadPicture(gRawPicture);
    state.counters["triangles"] = static_cast<double>(indices.size() / 3);
    glBindVertexArray(0);
    glUseProgram(0);
    glDisable(GL_CULL_FACE);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
    glDeleteBuffers(1, &ibo);
    glDeleteTextures(1, &texture);
    glDeleteProgram(program);
}

// Console output plus a closing line with the renderer / raw ratio of the per-frame times.
// Both are run in alternating rounds; the fastest round of each counts, which keeps other
// processes on a shared machine from skewing the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.iterations > 0 && !r.error_occurred) {
                const std::string family =
                    r.benchmark_name().substr(0, r.benchmark_name().find('/'));
                const double t = r.real_accumulated_time / r.iterations;
                auto [it, added] = perFrame_.emplace(family, t);
                if (!added) it->second = std::min(it->second, t);
            }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto raw = perFrame_.find("BM_RawOpenGLFrame");
        const auto ours = perFrame_.find("BM_RendererFrame");
        if (raw == perFrame_.end() || ours == perFrame_.end() || raw->second <= 0) return;
        std::printf("fastest rounds: raw OpenGL %.3f ms/frame, renderer %.3f ms/frame, ratio "
                    "%.3f (target <= 1.25)\n",
                    raw->second * 1e3, ours->second * 1e3, ours->second / raw->second);
    }

private:
    std::map<std::string, double> perFrame_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    rendertest::GlContext context;
    std::string error;
    if (!context.Open(kWidth, kHeight, error)) {
        std::fprintf(stderr, "no OpenGL 3.3 context (run under xvfb-run -a): %s\n", error.c_str());
        return 1;
    }
    gContext = &context;
    BenchScene sceneData;
    gScene = &sceneData;
    for (int round = 0; round < 3; ++round) {
        benchmark::RegisterBenchmark("BM_RawOpenGLFrame", BM_RawOpenGLFrame)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        benchmark::RegisterBenchmark("BM_RendererFrame", BM_RendererFrame)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
    }
    benchmark::RegisterBenchmark("BM_MatchLikeFrame", BM_MatchLikeFrame)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(1.0);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Both draws must show the same picture, or the comparison means nothing.
    int worst = 0;
    if (gRawPicture.size() == gRendererPicture.size())
        for (size_t i = 0; i < gRawPicture.size(); i += 4)
            for (int c = 0; c < 3; ++c)
                worst =
                    std::max(worst, std::abs(int(gRawPicture[i + c]) - gRendererPicture[i + c]));
    else
        worst = 255;
    std::printf("largest colour difference between the two pictures: %d / 255\n", worst);
    benchmark::Shutdown();
    gScene = nullptr;
    return 0;
}
