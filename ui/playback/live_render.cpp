// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/live_render.h"

#include <QFileInfo>
#include <QTime>
#include <mutex>

#include "files/paths.h"
#include "files/picture.h"
#include "files/session_commit.h"
#include "files/audio_input.h"
#include "files/audio_output.h"
#include "files/wav.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "ui/document/picture_document.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "ui/playback/file_frame_source.h"
#include "ui/playback/live_source.h"
#include "ui/playback/playback.h"

namespace vellomar {

namespace {

// A render that has ended waits this long for another before its sound
// replaces the output file: a brush stroke is many renders in a row.
constexpr int kCommitDelayMilliseconds = 400;

// The output's format as Generate writes it.
OutputFormat outputFormat() { return formatForPath(fileOptions.output, renderSettings.outputPath); }

QString timeNow() { return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")); }

}  // namespace

// Reports from the session's threads reach the window's thread through
// this, and nowhere once the LiveRender is gone.
struct LiveRender::Relay {
  std::mutex mutex;
  LiveRender* target = nullptr;
  // Runs `work(target)` on the window's thread, if the target still lives.
  template <typename F>
  void call(F work) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (LiveRender* t = target) QMetaObject::invokeMethod(t, [t, work] { work(*t); }, Qt::QueuedConnection);
  }
};

LiveRender::LiveRender(MainWindow& window) : QObject(&window), window_(window), relay_(std::make_shared<Relay>()) {
  setObjectName(QStringLiteral("liveRender"));
  relay_->target = this;
  commitTimer_.setSingleShot(true);
  commitTimer_.setInterval(kCommitDelayMilliseconds);
  connect(&commitTimer_, &QTimer::timeout, this, &LiveRender::commit);
  PictureDocument& document = window.document();
  connect(&document, &PictureDocument::replaced, this, &LiveRender::pictureReplaced);
  connect(&document, &PictureDocument::revised, this, &LiveRender::pictureRevised);
  connect(&window, &MainWindow::soundGenerated, this, &LiveRender::soundGenerated);
  Playback& playback = playbackOf(window);
  connect(&playback, &Playback::renderBehind, this, [this](qint64 milliseconds) {
    setStatus(QStringLiteral("The render fell behind the playhead: %1 ms of silence played").arg(milliseconds));
  });
}

LiveRender::~LiveRender() {
  {
    const std::lock_guard<std::mutex> lock(relay_->mutex);
    relay_->target = nullptr;
  }
  waitForCommit();
  if (session_) session_->cancel();
}

bool LiveRender::busy() const { return committing_ || (session_ && session_->rendering()) || commitTimer_.isActive(); }

void LiveRender::setStatus(const QString& text) { emit statusChanged(text); }

void LiveRender::beforeGenerate() {
  dropSession();
  waitForCommit();
  stateBeforeGenerate_ = randomSeed;
}

void LiveRender::soundGenerated() {
  if (committedSignal_) return;  // our own commit
  generated_ = true;
  generatedState_ = stateBeforeGenerate_;
  generatedBlockLength_ = renderSettings.blockLength;
}

bool LiveRender::outputReady() const {
  if (!generated_ || renderSettings.outputPath.empty()) return false;
  if (!outputReplaceableWithoutAsking(window_)) return false;
  if (renderSettings.inputSource == InputSource::WaveFile) {
    if (renderSettings.inputPath.empty() || inputWaveDuration == 0.0f) return false;
    if (sameFile(renderSettings.outputPath, renderSettings.inputPath)) return false;
  }
  return true;
}

void LiveRender::pictureReplaced() {
  // Another picture than the one rendered: its render ends, unless the
  // watcher shows a save of the same file.
  replacing_ = true;
  if (!savedPictureComing_) dropSession();
}

void LiveRender::pictureRevised(std::uint64_t, const RowSpans& rows) {
  if (replacing_) {
    replacing_ = false;  // the picture as a whole: see renderSavedPicture
    return;
  }
  renderChange(rows, false);
}

void LiveRender::renderSavedPicture(bool render) {
  savedPictureComing_ = false;
  if (!render) {
    dropSession();
    return;
  }
  Playback& playback = playbackOf(window_);
  const PictureDocument& document = window_.document();
  if (session_ && (document.width() != sessionWidth_ || document.height() != sessionHeight_)) {
    const bool playing = playback.isPlaying();
    const QString why = QStringLiteral("The picture is now %1 x %2 pixels instead of %3 x %4")
                            .arg(document.width())
                            .arg(document.height())
                            .arg(sessionWidth_)
                            .arg(sessionHeight_);
    dropSession();
    if (playing) {
      playback.stop();
      renderChange(RowSpans::all(document.height()), false);
      setStatus(why + QStringLiteral(": playing stopped; Play generated plays it once it is rendered"));
      return;
    }
  }
  renderChange(RowSpans::all(document.height()), !playback.isPlaying());
}

void LiveRender::pictureUnreadable(const QString& name) {
  Playback& playback = playbackOf(window_);
  if (!playback.isPlaying()) return;
  playback.stop();
  setStatus(QStringLiteral("'%1' could not be loaded: playing stopped").arg(name));
}

bool LiveRender::makeSnapshot(SessionSnapshot& snapshot, Refusal& refusal) {
  std::shared_ptr<const PictureBitmap> picture = window_.document().snapshot();
  if (!picture) return false;
  snapshot.settings = renderSettings;
  snapshot.picture = pictureDataOf(*picture);
  snapshot.pictureKeeper = picture;
  snapshot.noiseState = generatedState_;
  snapshot.encoding = encodingFor(outputFormat());
  if (renderSettings.inputSource != InputSource::WaveFile) {
    snapshot.frames = noiseSampleCount(renderSettings.sampleRate, renderSettings.durationSeconds);
    return true;
  }
  if (!session_) {
    // The input is opened once for the session (a spool is decoded once)
    // and read by position by every revision.
    AudioInputRules rules = fileOptions.input;
    rules.rate = renderSettings.sampleRate;
    rules.anyAudioHint = "turn on \"Read any audio file\" in Options";
    rules.keep = &windowInputs();
    // A decode runs on a thread of its own first; Cancel starts nothing.
    if (decodeInputFirst(&window_, renderSettings.inputPath, rules, refusal) != InputReady::Ready) return false;
    AudioInput input;
    if (!openAudioInput(renderSettings.inputPath, rules, input, refusal)) return false;
    sessionInput_.offset = std::ftell(input.stream);
    sessionInput_.eightBit = !input.floatSamples && input.info.bitsPerSample == 8;
    sessionInput_.floatSamples = input.floatSamples;
    sessionInput_.channels = static_cast<std::int32_t>(input.info.channels);
    sessionInput_.file = std::shared_ptr<std::FILE>(input.stream, std::fclose);
    input.stream = nullptr;
    sessionFrames_ = static_cast<std::uint32_t>(input.info.sampleCount);
  }
  snapshot.input = sessionInput_;
  snapshot.frames = sessionFrames_;
  return true;
}

void LiveRender::renderChange(const RowSpans& rows, bool play) {
  if (!outputReady() || rows.empty()) return;
  SessionSnapshot snapshot;
  Refusal refusal;
  if (!makeSnapshot(snapshot, refusal)) {
    if (refusal) setStatus(QString::fromStdString(refusal.text));
    return;
  }
  bool revised = session_ != nullptr;
  for (const RowSpan& span : rows.spans()) {
    if (!revised) break;
    // A change the session cannot take (the sound's length, its grid, its
    // source): a new render.
    revised = session_->revise(snapshot, static_cast<std::int32_t>(span.begin),
                               static_cast<std::int32_t>(span.end) - 1) == kResultOk;
  }
  if (!revised) {
    dropSession();
    if (!startSession(snapshot)) return;
  }
  sessionWidth_ = snapshot.picture.width;
  sessionHeight_ = snapshot.picture.height;
  commitTimer_.stop();
  setStatus(QStringLiteral("Rendering in the background..."));
  if (play) {
    const Playback& playback = playbackOf(window_);
    playWhenReady_ = true;
    playFromMilliseconds_ = playback.looping() ? playback.loopFrom() : 0;
    blockPublished(serial_);
  }
}

bool LiveRender::startSession(const SessionSnapshot& snapshot) {
  SessionOptions options;
  // Planned as Generate's renders are (prepareRender), so that what the
  // session commits is what Generate would write.
  options.plans.planning = FftPlanning::Measured;
  const std::uint64_t serial = ++serial_;
  std::shared_ptr<Relay> relay = relay_;
  options.blockPublished = [relay, serial](std::int64_t, std::uint32_t) {
    relay->call([serial](LiveRender& self) { self.blockPublished(serial); });
  };
  options.renderEnded = [relay, serial](const RenderOutcome& outcome) {
    relay->call([serial, outcome](LiveRender& self) { self.sessionEnded(serial, outcome); });
  };
  ResultCode result = kResultOk;
  std::unique_ptr<RenderSession> session = RenderSession::start(snapshot, options, result);
  if (!session) {
    setStatus(QString::fromStdString(refusalForResult(result).text));
    return false;
  }
  session_ = std::move(session);
  sessionRate_ = snapshot.settings.sampleRate;
  sessionBlockLength_ = snapshot.settings.blockLength;
  sessionOutput_ = renderSettings.outputPath;
  sessionFormat_ = outputFormat();
  followWithPlayer();
  return true;
}

void LiveRender::followWithPlayer() {
  // What plays takes the new render's blocks as they come; a sound of
  // another shape plays anew from where playing was.
  Playback& playback = playbackOf(window_);
  const std::shared_ptr<LiveSource> live = playing_.lock();
  if (!live || !playback.isPlaying() || playback.source().get() != live.get()) return;
  if (live->setSession(session_)) return;
  Refusal refusal;
  std::shared_ptr<FrameSource> source = playSource(refusal);
  if (source) playback.play(std::move(source), playback.position());
}

void LiveRender::dropSession() {
  commitTimer_.stop();
  playWhenReady_ = false;
  if (!session_) return;
  // What plays may go on reading it; it renders no more.
  session_->cancel();
  session_.reset();
  sessionInput_ = SessionInput{};
  ++serial_;
}

void LiveRender::blockPublished(std::uint64_t serial) {
  if (serial != serial_ || !playWhenReady_ || !session_) return;
  const std::int64_t frame = playFromMilliseconds_ * static_cast<std::int64_t>(sessionRate_) / 1000;
  if (session_->generation(session_->blockOfFrame(std::min(frame, session_->frames() - 1))) == 0) return;
  playWhenReady_ = false;
  if (!playbackOf(window_).isPlaying()) playGeneratedFrom(window_, playFromMilliseconds_);
}

void LiveRender::sessionEnded(std::uint64_t serial, const RenderOutcome& outcome) {
  if (serial != serial_ || !session_) return;
  if (outcome.result == kResultOk) {
    if (!session_->rendering()) commitTimer_.start();
    return;
  }
  if (outcome.result == kResultAborted) return;  // another render took over
  setStatus(QStringLiteral("The background render failed: ") +
            QString::fromStdString(refusalForResult(outcome.result).text));
}

void LiveRender::commit() {
  if (!session_ || session_->rendering()) return;  // the render's end commits
  if (committing_) {
    commitAgain_ = true;
    return;
  }
  if (!outputReady() || renderSettings.outputPath != sessionOutput_) return;
  committing_ = true;
  const std::uint64_t serial = serial_;
  waitForCommit();
  commitThread_ = std::thread([relay = relay_, session = session_, path = sessionOutput_, format = sessionFormat_, serial] {
    Refusal refusal;
    const ResultCode result = commitSession(*session, path, format, refusal);
    relay->call([serial, result, refusal](LiveRender& self) { self.commitDone(serial, result, refusal); });
  });
}

void LiveRender::waitForCommit() {
  if (commitThread_.joinable()) commitThread_.join();
}

void LiveRender::commitDone(std::uint64_t serial, ResultCode result, const Refusal& refusal) {
  waitForCommit();
  committing_ = false;
  if (result == kResultOk) {
    committedSignal_ = true;
    emit window_.soundGenerated();
    committedSignal_ = false;
    emit committed();
    setStatus(QStringLiteral("Rendered at %1").arg(timeNow()));
  } else if (result != kResultAborted && serial == serial_) {
    setStatus(QString::fromStdString(refusal.text));
  }
  // A render that ended while this one wrote commits now.
  if (commitAgain_) {
    commitAgain_ = false;
    commit();
  }
}

std::shared_ptr<FrameSource> LiveRender::playSource(Refusal& refusal) {
  std::shared_ptr<FrameSource> file;
  Refusal fileRefusal;
  if (!renderSettings.outputPath.empty()) file = FileFrameSource::open(renderSettings.outputPath, fileRefusal);
  std::shared_ptr<LiveSource> live;
  if (session_ && renderSettings.outputPath == sessionOutput_) {
    const bool under = file && file->frameCount() == session_->frames() && file->channels() == session_->channels() &&
                       file->sampleRate() == sessionRate_;
    live = std::make_shared<LiveSource>(under ? file : nullptr, session_->frames(), session_->channels(), sessionRate_,
                                        sessionBlockLength_);
    live->setSession(session_);
  } else if (file) {
    live = std::make_shared<LiveSource>(file, file->frameCount(), file->channels(), file->sampleRate(),
                                        generatedBlockLength_);
  } else {
    refusal = fileRefusal;
    return nullptr;
  }
  playing_ = live;
  return live;
}

void installLiveRender(MainWindow& window) { new LiveRender(window); }

LiveRender* liveRenderOf(MainWindow& window) {
  return window.findChild<LiveRender*>(QStringLiteral("liveRender"), Qt::FindDirectChildrenOnly);
}

}  // namespace vellomar
