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
uniform int uMode;

out vec3 vPos;
out vec3 vNormal;
out vec2 vUV;
out vec4 vColor;
out vec3 vSpec;
flat out vec4 vFlatColor;
flat out vec3 vFlatSpec;

void main() {
    vec4 p = uModelView * vec4(aPos, 1.0);
    gl_Position = uProjection * p;
    vPos = p.xyz;
    vUV = aUV;
    vec3 n = uNormalMatrix * aNormal;
    vNormal = n;
    vColor = aColor;
    vSpec = vec3(0.0);
    vFlatColor = aColor;
    vFlatSpec = vec3(0.0);
    if (uMode == 1 || uMode == 2) {
        vec3 spec;
        vec4 lit = Shade(p.xyz, n, aColor, spec);
        if (uMode == 1) { vFlatColor = lit; vFlatSpec = spec; }
        else { vColor = lit; vSpec = spec; }
    }
}
)";

const char* const kFragmentSource = R"(
in vec3 vPos;
in vec3 vNormal;
in vec2 vUV;
in vec4 vColor;
in vec3 vSpec;
flat in vec4 vFlatColor;
flat in vec3 vFlatSpec;

uniform int uMode;
uniform sampler2D uTexture;

out vec4 fragColor;

void main() {
    vec4 tex = texture(uTexture, vUV);
#ifdef ALPHA_TEST
    if (tex.a < 0.5) discard;
#endif
    vec4 base;
    vec3 spec;
    if (uMode == 1) { base = vFlatColor; spec = vFlatSpec; }
    else if (uMode == 3) { base = Shade(vPos, vNormal, vColor, spec); }
    else { base = vColor; spec = vSpec; }
    fragColor = vec4(base.rgb * tex.rgb + spec, base.a);
}
)";

// Lighting shared by both stages: returns emissive + colour * (ambient + diffuse) and the
// specular term, for a point p and normal n in view space (camera at the origin).
const char* const kShadeSource = R"(
#define MAX_POINT 8
#define MAX_DIR 4
uniform vec3 uAmbient;
uniform int uPointCount;
uniform vec3 uPointPos[MAX_POINT];
uniform vec3 uPointColor[MAX_POINT];
uniform vec4 uPointAtten[MAX_POINT];
uniform int uDirCount;
uniform vec3 uDirDir[MAX_DIR];
uniform vec3 uDirColor[MAX_DIR];
uniform vec3 uEmissive;
uniform vec3 uSpecular;
uniform float uPower;
uniform vec3 uAmbientFactor;

vec4 Shade(vec3 p, vec3 n, vec4 color, out vec3 spec) {
    float len = length(n);
    n = len > 0.0 ? n / len : vec3(0.0);
    vec3 toEye = normalize(-p);
    vec3 diffuse = vec3(0.0);
    spec = vec3(0.0);
    for (int i = 0; i < uPointCount; ++i) {
        vec3 d = uPointPos[i] - p;
        float dist = length(d);
        if (dist > uPointAtten[i].w) continue;
        vec3 l = dist > 0.0 ? d / dist : n;
        float att = 1.0 / max(uPointAtten[i].x + uPointAtten[i].y * dist +
                              uPointAtten[i].z * dist * dist, 1e-6);
        float ndl = max(dot(n, l), 0.0);
        diffuse += uPointColor[i] * ndl * att;
        if (uPower > 0.0 && ndl > 0.0)
            spec += uPointColor[i] * pow(max(dot(n, normalize(l + toEye)), 0.0), uPower) * att;
    }
    for (int i = 0; i < uDirCount; ++i) {
        float ndl = max(dot(n, uDirDir[i]), 0.0);
        diffuse += uDirColor[i] * ndl;
        if (uPower > 0.0 && ndl > 0.0)
            spec += uDirColor[i] * pow(max(dot(n, normalize(uDirDir[i] + toEye)), 0.0), uPower);
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

bool BuildProgram(Program& program, bool alphaTest, std::string& error) {
    const std::string header = std::string("#version 330 core\n") +
                               (alphaTest ? "#define ALPHA_TEST 1\n" : "") + kShadeSource;
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
    program.mode = glGetUniformLocation(id, "uMode");
    program.ambient = glGetUniformLocation(id, "uAmbient");
    program.pointCount = glGetUniformLocation(id, "uPointCount");
    program.pointPos = glGetUniformLocation(id, "uPointPos");
    program.pointColor = glGetUniformLocation(id, "uPointColor");
    program.pointAtten = glGetUniformLocation(id, "uPointAtten");
    program.dirCount = glGetUniformLocation(id, "uDirCount");
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
