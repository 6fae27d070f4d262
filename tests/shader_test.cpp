#include "shader/klarvoss.h"
#include "tests/host_fixture.h"

#include <cstring>

namespace {

// A parameter block followed by the host's per-parameter "computed" words,
// which lie `parameter_indirect` bytes beyond each parameter.
struct Block {
  Klarvoss_params params{};
  std::int32_t computed[5]{};
};
constexpr std::int32_t computed_words_offset = offsetof(Block, computed);

// A colour whose bit patterns a float round trip would change (a signalling NaN).
miColor marked_colour() {
  const std::uint32_t bits[4] = {0x7fa00001u, 0x3f800000u, 0x80000000u, 0xff800000u};
  miColor colour;
  std::memcpy(&colour, bits, sizeof colour);
  return colour;
}

bool same_bytes(const miColor& a, const miColor& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class ShaderTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    host_set_user_word(state, &user_word);
    block.params.color = marked_colour();
  }

  miBoolean shade() { return Klarvoss(&result, &state, &block.params); }
  std::int32_t warned() const {
    std::int32_t flag;
    std::memcpy(&flag, &user_word, sizeof flag);
    return flag;
  }

  void* user_word = reinterpret_cast<void*>(~std::uintptr_t{0});  // host's leftovers
  Block block;
  miColor result{};
};

TEST_F(ShaderTest, VersionAndShaderWideInitialisation) {
  EXPECT_EQ(Klarvoss_version(), 1);
  for (int call = 0; call < 3; ++call) {
    miBoolean request = 0;
    Klarvoss_init(&state, nullptr, &request);
    EXPECT_EQ(request, miTRUE);
  }
  Klarvoss_init(&state, nullptr, nullptr);
  EXPECT_EQ(log_a->order[0], '\0') << "the shader-wide call must not reach the host";
}

TEST_F(ShaderTest, InstanceInitialisationClearsOnlyTheFlag) {
  miBoolean request = 7;
  Klarvoss_init(&state, &block.params, &request);
  EXPECT_EQ(request, 7);
  EXPECT_EQ(warned(), 0);
  EXPECT_EQ(log_a->query_code, miQ_FUNC_USERPTR);
  EXPECT_EQ(log_a->query_tag, 0u);
  Klarvoss_init(&state, &block.params, nullptr);  // the request is never touched
}

TEST_F(ShaderTest, FailedTraceEndsTheCall) {
  Klarvoss_init(&state, &block.params, nullptr);
  fake_host_reset(*log_a);
  log_a->trace_answer = miFALSE;
  block.params.use_color = miTRUE;
  for (int ray = 0; ray < 3; ++ray) EXPECT_EQ(shade(), miFALSE);
  EXPECT_STREQ(log_a->order, "ttt");
  EXPECT_TRUE(same_bytes(result, log_a->trace_color));
  EXPECT_EQ(log_a->trace_result, &result);
  EXPECT_EQ(log_a->trace_origin, &state.org);
  EXPECT_EQ(log_a->trace_direction, &state.dir);
}

TEST_F(ShaderTest, UseColorFalseWarnsOnceAndKeepsTracedColour) {
  Klarvoss_init(&state, &block.params, nullptr);
  fake_host_reset(*log_a);
  function.parameter_indirect = computed_words_offset;
  block.computed[1] = 1;  // color would be computed, but must not even be asked for
  for (int ray = 0; ray < 3; ++ray) EXPECT_EQ(shade(), miFALSE);
  EXPECT_STREQ(log_a->order, "tqwtqtq");
  // The text users see, byte for byte: no line feed, no per-cent sign.
  EXPECT_STREQ(log_a->warning_received,
               "This scene contains black spots which are being scrubbed out by the Klarvoss "
               "shader. To eliminate the use of this shader, please mail this scene to "
               "scenes@klarvoss.example"
               " so that this problem can be rectified in future versions of Orvex and/or "
               "mental ray. Ta!");
  EXPECT_EQ(warned(), 1);
  EXPECT_TRUE(same_bytes(result, log_a->trace_color));
}

TEST_F(ShaderTest, UseColorTrueCopiesColourExactly) {
  Klarvoss_init(&state, &block.params, nullptr);
  block.params.use_color = 5;  // any non-zero word is true
  block.computed[0] = block.computed[1] = 1;  // ignored while the offset is 0
  EXPECT_EQ(shade(), miTRUE);
  EXPECT_TRUE(same_bytes(result, marked_colour()));
  EXPECT_EQ(log_a->phen_eval_calls, 0);

  function.parameter_indirect = computed_words_offset;
  block.computed[0] = block.computed[1] = 0;  // both in place
  result = miColor{};
  EXPECT_EQ(shade(), miTRUE);
  EXPECT_TRUE(same_bytes(result, marked_colour()));
  EXPECT_EQ(log_a->phen_eval_calls, 0);
}

TEST_F(ShaderTest, HostComputedParametersAreReadWhereTheHostSays) {
  Klarvoss_init(&state, &block.params, nullptr);
  block.params.use_color = miTRUE;
  block.params.color = miColor{};
  EXPECT_EQ(shade(), miTRUE);  // with offset 0 first: the offset is read on every call
  EXPECT_EQ(log_a->phen_eval_calls, 0);
  function.parameter_indirect = computed_words_offset;
  block.computed[1] = 0x100;  // the whole 32-bit word says computed, not its low byte
  miColor computed = marked_colour();
  log_a->phen_eval_answer = &computed;
  EXPECT_EQ(shade(), miTRUE);
  EXPECT_EQ(log_a->phen_eval_calls, 1);
  EXPECT_EQ(log_a->phen_eval_param, &block.params.color);
  EXPECT_EQ(log_a->phen_eval_state, &state);
  EXPECT_TRUE(same_bytes(result, computed));

  // A computed use_color of false stops before color is asked for.
  block.computed[0] = 1;
  miBoolean off = miFALSE;
  log_a->phen_eval_answer = &off;
  result = miColor{};
  EXPECT_EQ(shade(), miFALSE);
  EXPECT_EQ(log_a->phen_eval_calls, 2);
  EXPECT_EQ(log_a->phen_eval_param, &block.params.use_color);
  EXPECT_TRUE(same_bytes(result, log_a->trace_color));
}

TEST_F(ShaderTest, UncomputableParameterFailsAndKeepsTracedColour) {
  Klarvoss_init(&state, &block.params, nullptr);
  function.parameter_indirect = computed_words_offset;
  block.params.use_color = miTRUE;
  block.computed[1] = 1;
  log_a->phen_eval_answer = nullptr;
  EXPECT_EQ(shade(), miFALSE);
  EXPECT_TRUE(same_bytes(result, log_a->trace_color));

  // A host that cannot compute anything at all: the lookup fails, same answer.
  miSetModuleHandle(host_b);
  host_set_user_word(state, nullptr);
  std::string errors = stderr_of([&] { EXPECT_EQ(shade(), miFALSE); });
  EXPECT_EQ(errors, lookup_failure_line("mi_phen_eval", host_b));
  EXPECT_TRUE(same_bytes(result, log_b->trace_color));
}

TEST_F(ShaderTest, EachInstanceWarnsOncePerInitialisation) {
  void* second_word = nullptr;
  miState second = state;
  host_set_user_word(second, &second_word);
  Klarvoss_init(&state, &block.params, nullptr);
  Klarvoss_init(&second, &block.params, nullptr);

  log_a->trace_answer = miFALSE;
  shade();  // no warning before a successful trace
  EXPECT_EQ(log_a->warning_calls, 0);
  log_a->trace_answer = miTRUE;
  shade();
  shade();
  EXPECT_EQ(log_a->warning_calls, 1);
  Klarvoss(&result, &second, &block.params);
  Klarvoss(&result, &second, &block.params);
  EXPECT_EQ(log_a->warning_calls, 2);

  Klarvoss_init(&state, &block.params, nullptr);  // re-initialised: warns again
  shade();
  shade();
  EXPECT_EQ(log_a->warning_calls, 3);
}

TEST_F(ShaderTest, NoUserWordSkipsTheWarningAndShades) {
  host_set_user_word(state, nullptr);
  Klarvoss_init(&state, &block.params, nullptr);
  block.params.use_color = miTRUE;
  EXPECT_EQ(shade(), miTRUE);
  EXPECT_TRUE(same_bytes(result, marked_colour()));
  EXPECT_EQ(log_a->warning_calls, 0);
}

}  // namespace
