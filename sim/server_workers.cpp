// xsr-sim: the worker pool that runs module calls which may block.
#include "sim/server.h"
#include "sim/server_parts.h"

namespace xsrsim {

using namespace xsrproto;

// --- worker pool -------------------------------------------------------------

bool Server::submit(const std::shared_ptr<Job>& job) {
    {
        std::lock_guard<std::mutex> g(pool_mu_);
        if (pool_stop_ || queue_.size() + running_.size() >= cfg_.max_jobs) return false;
        queue_.push_back(job);
    }
    pool_cv_.notify_one();
    return true;
}

void Server::worker_loop() {
    for (;;) {
        std::shared_ptr<Job> job;
        std::list<std::shared_ptr<Job>>::iterator slot;
        {
            std::unique_lock<std::mutex> g(pool_mu_);
            pool_cv_.wait(g, [this] { return pool_stop_ || !queue_.empty(); });
            if (pool_stop_) return;
            job = queue_.front();
            queue_.pop_front();
            slot = running_.insert(running_.end(), job);
        }
        ModuleAnswer a;
        if (job->cancel.cancelled()) {
            a.result = kErrShutdown;
        } else {
            try {
                a = job->module->call(job->call, job->cancel, *this);
            } catch (...) {
                a = ModuleAnswer();
                a.result = kErrResources;
            }
        }
        job->finish(std::move(a));
        std::lock_guard<std::mutex> g(pool_mu_);
        running_.erase(slot);
    }
}

}  // namespace xsrsim
