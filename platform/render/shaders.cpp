// platform/render/shaders.cpp — the forward-pass shader: ambient, point and directional
// lights in view space, per-face material, texture modulation, optional colour-key discard.
#include "platform/render/render_local.h"

#include <string>

namespace render {

namespace {

const char* const kVertexSource = R"(
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec2 aUV;
layout(location = 3) in vec4 aColor;

uniform mat4 uModelView;
uniform mat4 uProjection;
uniform mat3 uNormalMatrix;

out vec2 vUV;
#ifdef MODE_PHONG
out vec3 vPos;
out vec3 vNormal;
#endif
SHADE_QUALIFIER out vec4 vColor;
#if defined(SPECULAR) && !defined(MODE_PHONG)
SHADE_QUALIFIER out vec3 vSpec;
#endif

void main() {
    vec4 p = uModelView * vec4(aPos, 1.0);
    gl_Position = uProjection * p;
    vUV = aUV;
#if defined(MODE_PHONG)
    vPos = p.xyz;
    vNormal = uNormalMatrix * aNormal;
    vColor = aColor;
#elif defined(MODE_UNLIT)
    vColor = aColor;
#else
    vec3 spec;
    vColor = Shade(p.xyz, uNormalMatrix * aNormal, aColor, spec);
#ifdef SPECULAR
    vSpec = spec;
#endif
#endif
}
)";

const char* const kFragmentSource = R"(
in vec2 vUV;
#ifdef MODE_PHONG
in vec3 vPos;
in vec3 vNormal;
#endif
SHADE_QUALIFIER in vec4 vColor;
#if defined(SPECULAR) && !defined(MODE_PHONG)
SHADE_QUALIFIER in vec3 vSpec;
#endif

uniform sampler2D uTexture;

out vec4 fragColor;

void main() {
    vec4 tex = texture(uTexture, vUV);
#ifdef ALPHA_TEST
    if (tex.a < 0.5) discard;
#endif
    vec3 spec = vec3(0.0);
#ifdef MODE_PHONG
    vec4 base = Shade(vPos, vNormal, vColor, spec);
#else
    vec4 base = vColor;
#ifdef SPECULAR
    spec = vSpec;
#endif
#endif
    fragColor = vec4(base.rgb * tex.rgb + spec, base.a);
}
)";

// Lighting shared by both stages (light counts are compiled in, so loops unroll): returns emissive
// + colour * (ambient + diffuse) and, with SPECULAR, the specular term, for a point p and normal n
// in view space (camera at the origin).
const char* const kShadeSource = R"(
#define MAX_POINT 8
#define MAX_DIR 4
uniform vec3 uAmbient;
uniform vec3 uPointPos[MAX_POINT];
uniform vec3 uPointColor[MAX_POINT];
uniform vec4 uPointAtten[MAX_POINT];
uniform vec3 uDirDir[MAX_DIR];
uniform vec3 uDirColor[MAX_DIR];
uniform vec3 uEmissive;
uniform vec3 uSpecular;
uniform float uPower;
uniform vec3 uAmbientFactor;

vec4 Shade(vec3 p, vec3 n, vec4 color, out vec3 spec) {
    float len = length(n);
    n = len > 0.0 ? n / len : vec3(0.0);
    vec3 diffuse = vec3(0.0);
    spec = vec3(0.0);
#ifdef SPECULAR
    vec3 toEye = normalize(-p);
#endif
    for (int i = 0; i < POINT_COUNT; ++i) {
        vec3 d = uPointPos[i] - p;
        float dist = length(d);
        vec3 l = dist > 0.0 ? d / dist : n;
        float att = dist > uPointAtten[i].w ? 0.0 :
            1.0 / max(uPointAtten[i].x + uPointAtten[i].y * dist +
                      uPointAtten[i].z * dist * dist, 1e-6);
        float ndl = max(dot(n, l), 0.0);
        diffuse += uPointColor[i] * (ndl * att);
#ifdef SPECULAR
        if (ndl > 0.0)
            spec += uPointColor[i] * (pow(max(dot(n, normalize(l + toEye)), 0.0), uPower) * att);
#endif
    }
    for (int i = 0; i < DIR_COUNT; ++i) {
        float ndl = max(dot(n, uDirDir[i]), 0.0);
        diffuse += uDirColor[i] * ndl;
#ifdef SPECULAR
        if (ndl > 0.0)
            spec += uDirColor[i] * pow(max(dot(n, normalize(uDirDir[i] + toEye)), 0.0), uPower);
#endif
    }
    spec *= uSpecular;
    return vec4(uEmissive + color.rgb * (uAmbient * uAmbientFactor + diffuse), color.a);
}
)";

GLuint CompileStage(GLenum stage, const std::string& source, std::string& error) {
    const GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    error = std::string(stage == GL_VERTEX_SHADER ? "vertex" : "fragment") +
            " shader does not compile: " + log.c_str();
    glDeleteShader(shader);
    return 0;
}

} // namespace

bool BuildProgram(Program& program, ShadeMode mode, bool alphaTest, bool specular, int pointCount,
                  int dirCount, std::string& error) {
    static const char* const kModeDefines[] = {"#define MODE_UNLIT 1\n", "#define MODE_FLAT 1\n",
                                               "#define MODE_GOURAUD 1\n",
                                               "#define MODE_PHONG 1\n"};
    const std::string header =
        std::string("#version 330 core\n") + kModeDefines[mode] +
        (mode == kShadeFlat ? "#define SHADE_QUALIFIER flat\n" : "#define SHADE_QUALIFIER\n") +
        (alphaTest ? "#define ALPHA_TEST 1\n" : "") + (specular ? "#define SPECULAR 1\n" : "") +
        "#define POINT_COUNT " + std::to_string(pointCount) + "\n#define DIR_COUNT " +
        std::to_string(dirCount) + "\n" + kShadeSource;
    const GLuint vs = CompileStage(GL_VERTEX_SHADER, header + kVertexSource, error);
    if (!vs) return false;
    const GLuint fs = CompileStage(GL_FRAGMENT_SHADER, header + kFragmentSource, error);
    if (!fs) {
        glDeleteShader(vs);
        return false;
    }
    const GLuint id = glCreateProgram();
    glAttachShader(id, vs);
    glAttachShader(id, fs);
    glLinkProgram(id);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(id, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint length = 0;
        glGetProgramiv(id, GL_INFO_LOG_LENGTH, &length);
        std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetProgramInfoLog(id, length, nullptr, log.data());
        error = std::string("shader program does not link: ") + log.c_str();
        glDeleteProgram(id);
        return false;
    }
    program.id = id;
    program.modelView = glGetUniformLocation(id, "uModelView");
    program.projection = glGetUniformLocation(id, "uProjection");
    program.normalMatrix = glGetUniformLocation(id, "uNormalMatrix");
    program.ambient = glGetUniformLocation(id, "uAmbient");
    program.pointPos = glGetUniformLocation(id, "uPointPos");
    program.pointColor = glGetUniformLocation(id, "uPointColor");
    program.pointAtten = glGetUniformLocation(id, "uPointAtten");
    program.dirDir = glGetUniformLocation(id, "uDirDir");
    program.dirColor = glGetUniformLocation(id, "uDirColor");
    program.emissive = glGetUniformLocation(id, "uEmissive");
    program.specular = glGetUniformLocation(id, "uSpecular");
    program.power = glGetUniformLocation(id, "uPower");
    program.ambientFactor = glGetUniformLocation(id, "uAmbientFactor");
    program.texture = glGetUniformLocation(id, "uTexture");
    glUseProgram(id);
    glUniform1i(program.texture, 0);
    glUseProgram(0);
    return true;
}

} // namespace render
