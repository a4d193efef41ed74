// SPDX-License-Identifier: GPL-3.0-or-later
// The window's renders in the background: after an edit of the picture
// or a save of its file by another program, the sound is rendered again
// while the window stays free, and what plays follows it.
//
// A background render revises the render of the last generated sound: it
// starts from the noise state that sound started from and renders again
// only the blocks whose hops read the changed rows (a render session),
// each on a snapshot of the settings and the picture taken when it
// starts. Play plays the generated file with the blocks rendered since
// laid over it (LiveSource), so a change is heard as soon as its block is
// rendered, without playing stopping; a save seen while nothing plays
// starts playing as soon as the first blocks are there. Once a render has
// ended and no other follows, its sound replaces the output file, whole,
// through the output commit. Generate stays what it was: it ends the
// background render first.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <thread>

#include "engine/session.h"
#include "files/audio_output.h"
#include "files/messages.h"
#include "ui/document/row_spans.h"

namespace vellomar {

class FrameSource;
class LiveSource;
class MainWindow;

class LiveRender : public QObject {
  Q_OBJECT

 public:
  explicit LiveRender(MainWindow& window);
  ~LiveRender() override;

  // What Play plays: the output file with what the background render has
  // rendered laid over it; null, with why, when there is nothing to play.
  std::shared_ptr<FrameSource> playSource(Refusal& refusal);

  // The watcher is about to show a save by another program: the render
  // goes on for it (any other new picture ends it).
  void expectSavedPicture() { savedPictureComing_ = true; }
  // The save is shown: renders it in the background when `render`, and
  // plays it once its first blocks are there when nothing plays. A
  // picture of another size than the one playing stops playing, saying
  // why. Without `render` (the output is not ready), the render ends.
  void renderSavedPicture(bool render);
  // The picture file could not be read: what plays stops, saying why.
  void pictureUnreadable(const QString& name);

  // Before a Generate: the background render ends (a commit under way
  // finishes first) and Generate's noise state is noted.
  void beforeGenerate();

  // The background render, when there is one (for tests and measuring).
  RenderSession* session() const { return session_.get(); }
  // Whether a render or a commit runs.
  bool busy() const;

 signals:
  // What the background render is doing, for the window's title; empty
  // when there is nothing to say.
  void statusChanged(const QString& text);
  // The output file now holds the background render's sound.
  void committed();

 private:
  struct Relay;
  void pictureReplaced();
  void pictureRevised(std::uint64_t revision, const RowSpans& rows);
  void soundGenerated();
  bool outputReady() const;
  void renderChange(const RowSpans& rows, bool play);
  bool makeSnapshot(SessionSnapshot& snapshot, Refusal& refusal);
  bool startSession(const SessionSnapshot& snapshot);
  void followWithPlayer();
  void dropSession();
  void blockPublished(std::uint64_t serial);
  void sessionEnded(std::uint64_t serial, const RenderOutcome& outcome);
  void commit();
  void commitDone(std::uint64_t serial, ResultCode result, const Refusal& refusal);
  void waitForCommit();
  void setStatus(const QString& text);

  MainWindow& window_;
  std::shared_ptr<Relay> relay_;
  std::shared_ptr<RenderSession> session_;
  std::uint64_t serial_ = 0;  // counts sessions, so that a late report of an old one is known
  std::uint32_t sessionWidth_ = 0;
  std::uint32_t sessionHeight_ = 0;
  std::uint32_t sessionRate_ = 44100;
  std::int32_t sessionBlockLength_ = 0;
  std::string sessionOutput_;
  OutputFormat sessionFormat_;
  SessionInput sessionInput_;  // the wave source's, open for the session's life
  std::uint32_t sessionFrames_ = 0;
  // The generated sound: the noise state it started from and its block
  // length. Nothing is rendered in the background before there is one.
  bool generated_ = false;
  std::int32_t generatedState_ = kInitialRandomSeed;
  std::int32_t generatedBlockLength_ = 8192;
  std::int32_t stateBeforeGenerate_ = kInitialRandomSeed;
  bool replacing_ = false;
  bool savedPictureComing_ = false;
  bool committedSignal_ = false;
  bool playWhenReady_ = false;
  qint64 playFromMilliseconds_ = 0;
  std::weak_ptr<LiveSource> playing_;
  QTimer commitTimer_;
  std::thread commitThread_;
  bool committing_ = false;
  bool commitAgain_ = false;
};

// Makes the window's background renders; once, by the main window.
void installLiveRender(MainWindow& window);
LiveRender* liveRenderOf(MainWindow& window);

}  // namespace vellomar
