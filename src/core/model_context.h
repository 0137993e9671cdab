#pragma once
// The run record: everything one command knows, from its decoded arguments to
// its results. The run driver owns it for the length of one call; every
// likelihood, gradient, start-value and report function receives it.
//
// Per-model options and arrays are indexed by model 0..2 (model 1; model 2 of
// a joint run; components 2 and 3 of a multi-trajectory run). Per-subject
// arrays have one slot per host observation (`nObs`). Arrays of
// (group, subject, period) are flat and addressed through the accessors below.

#include <array>
#include <cfloat>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/exp_clamp.h"
#include "core/host.h"
#include "core/parallel_for.h"
#include "core/parameter_layout.h"
#include "core/uniform_stream.h"

namespace kurv {

inline constexpr int kMaxModels = 3;
// Largest polynomial order of a trajectory (intercept up to quintic).
inline constexpr int kMaxPolyOrder = 5;

// Distribution codes of a trajectory model.
inline constexpr int kPoisson = 0;  // no density: refused at argument checking
inline constexpr int kCnorm = 1;
inline constexpr int kLogit = 2;
inline constexpr int kZip = 3;

// The value a likelihood stores when it cannot be computed.
inline constexpr double kFailedLikelihood = DBL_MAX;

using Matrix = std::vector<std::vector<double>>;  // [column or period][subject]

// Per-run tables of the measurement data, derived once from the data read by
// the intake (models/measurement_tables.h fills them; the likelihoods fill
// them on first use when the driver has not). They only cache what the data
// and the parameter layout determine: which periods take part, the powers of
// time of each period, and where each group's parameter blocks start.
struct MeasurementTables {
  bool ready = false;
  std::array<int, kMaxModels> nPowers{};  // [m] highest power of time stored (>= 0)
  // [m][i*T+j]: 1 when period j of subject i is usable in model m.
  std::array<std::vector<unsigned char>, kMaxModels> usable;
  // [m][(i*T+j)*nPowers+p-1]: std::pow(t, p) for p = 1..nPowers[m].
  std::array<std::vector<double>, kMaxModels> timePower;
  // [m][g]: first trajectory, zero-inflation and dropout parameter of group g
  // (from the parameter layout, which precedes the intake).
  std::array<std::vector<std::array<int, 3>>, kMaxModels> groupStarts;
  // The data of every cell (i, j) side by side per subject, [m][i*T+j], read
  // by the log-domain kernels without a missing-value test: the cell's kind
  // (kCellUnusable, kCellMeasured, kCellBelow / kCellAbove for a CNORM value
  // at or beyond a censoring bound), the outcome (0 where unusable), the
  // time-varying covariates [(i*T+j)*tcovPerPeriod+c], the exposure (empty
  // when the model has none) and, for ZIP models, ln Gamma(y + 1).
  std::array<std::vector<unsigned char>, kMaxModels> cellKind;
  std::array<std::vector<double>, kMaxModels> y;
  std::array<std::vector<double>, kMaxModels> covariate;
  std::array<std::vector<double>, kMaxModels> exposure;
  std::array<std::vector<double>, kMaxModels> logGammaY1;
  // [m][i]: 1 when some cell of subject i lies at or beyond a censoring bound.
  std::array<std::vector<unsigned char>, kMaxModels> subjectCensored;
  // Model 1's dropout data (empty without a dropout model): [i*T+j] 1 when
  // the outcome is present (a lagged outcome can be used), 1 when every
  // dropout covariate of period j is present, and the covariates
  // [(i*T+j)*dcovPerPeriod+q].
  std::vector<unsigned char> outcomePresent;
  std::vector<unsigned char> dropoutCovariatesPresent;
  std::vector<double> dropoutCovariate;
  // Model 1's risk values [i*nRisk+r], 0 for a missing value (which adds
  // nothing to a membership predictor), and [i] 1 when the outcome-analysis
  // value is present.
  std::vector<double> riskValue;
  std::vector<unsigned char> outcomeValuePresent;
};

// Kinds of a cell in MeasurementTables::cellKind.
inline constexpr unsigned char kCellUnusable = 0;
inline constexpr unsigned char kCellMeasured = 1;
inline constexpr unsigned char kCellBelow = 2;
inline constexpr unsigned char kCellAbove = 3;

struct ModelContext {
  Host* host = nullptr;

  // ---- Options, from the run's description ---------------------------------
  std::array<bool, kMaxModels> modelPresent{};    // a model takes part
  std::array<std::string, kMaxModels> modelName;  // as given
  std::array<int, kMaxModels> nPeriods{};
  std::array<int, kMaxModels> nRisk{};
  bool hasWeights = false;
  std::array<int, kMaxModels> nExposure{};
  std::array<int, kMaxModels> nTcov{};
  int nPlotTcov = 0;
  std::array<int, kMaxModels> nGroups{};
  std::array<std::vector<double>, kMaxModels> polyOrder;  // one order per group
  std::array<double, kMaxModels> censorMin{};
  std::array<double, kMaxModels> censorMax{};
  std::array<int, kMaxModels> nInflOrder{};
  std::array<std::vector<double>, kMaxModels> inflOrder;
  int nReOrder = 0;
  std::vector<double> reOrder;
  bool hasRandomEffects = false;
  int nDropoutOrder = 0;
  std::vector<double> dropoutOrder;
  int nDcov = 0;
  bool hasDropoutExempt = false;
  std::string omodelName;
  bool hasOutcome = false;
  std::array<int, kMaxModels> refGroup{};
  std::array<bool, kMaxModels> hasRefGroup{};
  int multNGroups = 0;
  bool isMultModel = false;
  int nStartValues = 0;
  bool hasStartValues = false;
  bool dataStartValues = false;  // without start values: guess them from the data
  int showTrace = 0;
  int debugTrace = 0;
  int noStdErrors = 0;

  // ---- Derived by preparation ---------------------------------------------
  int nModels = 1;
  int currentModel = 0;
  std::array<int, kMaxModels> modelKind{};
  int omodelKind = 0;
  int nOutcomeParams = 0;
  int nOutcomeCovariates = 0;  // no argument supplies it
  std::array<int, kMaxModels> tcovPerPeriod{};
  int dcovPerPeriod = 0;
  std::array<int, kMaxModels> singleInflOrder{};
  std::array<int, kMaxModels> nModelParams{};
  std::array<int, kMaxModels> paramStart{};
  std::array<int, kMaxModels> paramEnd{};
  int nParams = 0;
  int nObs = 0;
  int multRefGroup = 0;
  int multNRisk = 0;

  // The description of every parameter, built once with the block starts
  // below (models/parameter_layout.h).
  ParameterLayout layout;
  // Parameter block starts (0-based indexes into `params`).
  int dropoutStart = 0;
  std::array<int, kMaxModels> zipStart{};
  int thetaStart = 0;       // model 1 membership constants
  int outcomeStart = 0;     // outcome-analysis parameters
  int jointThetaStart = 0;  // model 2 conditional membership constants
  int multThetaStart = 0;   // shared membership constants of a multi-trajectory run
  int reStart = 0;          // random-effects block
  // Index of each model's CNORM log-scale parameter, -1 when it has none.
  std::array<int, kMaxModels> scaleIndex{-1, -1, -1};

  // Name lists (each at most 12 characters).
  std::array<std::vector<std::string>, 2> riskNames;
  std::vector<std::string> tcovNames;
  std::vector<std::string> dcovNames;

  // ---- Data read by the intake ---------------------------------------------
  std::array<Matrix, kMaxModels> outcomeY;   // [m][period][subject]
  std::array<Matrix, kMaxModels> timeT;      // [m][period][subject]
  std::array<Matrix, kMaxModels> risk;       // [m][risk variable][subject]
  std::array<Matrix, kMaxModels> exposure;   // [m][period][subject]
  std::array<Matrix, kMaxModels> tcov;       // [m][c*T+j][subject]
  Matrix dcov;                               // [c*T+j][subject]
  std::vector<double> weight;
  std::vector<double> outcomeValue;
  std::vector<int> dropoutExempt;
  std::vector<int> excluded;
  std::vector<int> included;
  std::vector<int> firstPeriod;
  std::vector<int> lastPeriod;
  std::array<std::vector<double>, kMaxModels> meanTime;  // [m][period]
  std::array<std::vector<double>, kMaxModels> periodN;   // [m][period]

  int nSubjects = 0;
  int nMeasurements = 0;
  int nExcluded = 0;
  int nNotExcluded = 0;
  int completeLength = 0;
  int outVarBase = 0;
  int nDataVars = 0;
  std::array<double, kMaxModels> ySd{};
  std::array<double, kMaxModels> yMin{};
  std::array<double, kMaxModels> yMax{};
  double outcomeSd = 0.0;
  double outcomeMin = 0.0;
  double outcomeMax = 0.0;

  // Outcome-analysis censoring and zero inflation (no argument sets them).
  double outcomeCensorMin = 0.0;
  double outcomeCensorMax = 0.0;
  bool hasOutcomeCensorMin = false;
  bool hasOutcomeCensorMax = false;
  bool outcomeHasZeroInflation = false;

  // ---- Parameters and evaluation arrays -------------------------------------
  std::vector<double> params;
  std::vector<double> periodSigma;                        // [period]
  std::array<std::vector<double>, kMaxModels> membershipProb;  // [m][group]
  std::vector<double> multMembershipProb;
  std::vector<double> periodDensity;       // [(g*nObs+i)*T+j], model 1
  std::vector<double> dropoutFactorStore;  // same shape
  std::vector<double> dropoutTerm;         // [g*nObs+i]
  std::vector<double> groupTerm;           // [g*nObs+i]
  std::vector<double> outcomeTerm;         // [i]
  std::vector<double> subjectLik;          // [i], random-effects model (the others keep subjectLogLik)

  // Gradient work.
  std::vector<double> derivativeWork;  // n
  std::vector<double> derivativeWork2; // n, second work vector of the delta method
  std::vector<double> subjectScore;    // n
  std::vector<double> scoreOuterSum;   // n*n row-major
  int cursorSubject = 0;
  int cursorPeriod = 0;
  int cursorGroup = 0;

  // Model evaluation helpers (models/): the exponent clamp computed from
  // DBL_MAX when the record is made, and the measurement tables.
  ExpClamp expClamp = makeExpClamp();
  MeasurementTables measurementTables;

  // Joint runs (models/joint_likelihood.h): model 2's group products and
  // the posterior of every pair of groups.
  std::vector<double> groupTerm2;      // [k*nObs+i], model 2 (bare product)
  std::vector<double> jointPosterior;  // [(j*G2+k)*nObs+i]

  // Log-domain evaluation (models/single_likelihood.cpp): each subject's
  // ln L_i, and per subject and group the slopes of ln(group term) with
  // respect to the group's own parameters ([i*nScores+s], the slots of the
  // evaluation plan), which the gradient weights by the posteriors.
  std::vector<double> subjectLogLik;  // [i]
  std::vector<double> groupScore;     // [i*nScores+s]
  // Threads of the evaluations (0: one per core) and their pool, made on
  // first use and kept for the run.
  int nThreads = 0;
  std::shared_ptr<WorkerPool> workerPool;

  // Plot covariate values.
  std::vector<double> plotTcov;

  // Random-effects model: the uniform numbers of the multivariate normal
  // lattice rule, filled once per run on first use.
  UniformStream uniformStream;

  // ---- Results -------------------------------------------------------------
  bool useDifferenceMode = false;
  std::vector<double> startDisplay;
  std::vector<double> estimates;
  std::vector<double> covariance;  // n*n row-major
  std::vector<double> stdErrors;
  int covFailCode = 0;
  std::string outVarsText;
  std::vector<double> groupPct;
  std::vector<double> groupPctSe;
  std::vector<std::vector<double>> condPct;
  std::vector<double> model2Pct;
  std::vector<double> outcomeGroupMean;
  std::vector<double> outcomeGroupLower;
  std::vector<double> outcomeGroupUpper;
  double finalNegLogLik = 0.0;
  int minimizerCode = 0;

  // ---- Accessors of the flat (group, subject, period) arrays of model 1 ------
  std::size_t gi(int g, int i) const { return static_cast<std::size_t>(g) * nObs + i; }
  std::size_t gij(int g, int i, int j) const {
    return (static_cast<std::size_t>(g) * nObs + i) * nPeriods[0] + j;
  }
  bool isJointModel() const { return !isMultModel && nModels > 1 && nGroups[1] > 0; }
};

}  // namespace kurv
